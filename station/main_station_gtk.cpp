// The station's entry on Linux: options, the ports (given, remembered or chosen), the
// updater and the records file, then the window until it is closed.
#include <gtk/gtk.h>

#include <cstdio>

#include "banner.h"
#include "com_devices.h"
#include "record_file.h"
#include "settings_store.h"
#include "station_options.h"
#include "station_platform.h"
#include "station_run.h"
#include "station_texts.h"
#include "station_window.h"
#include "tq_version.h"

namespace {

constexpr int EXIT_USAGE = 2;


}  // namespace

int main(int argc, char** argv)
{
    switch (read_station_options(argc - 1, argv + 1)) {
    case StationVerdict::Help:
        std::fputs(STATION_HELP_TEXT, stdout);
        return 0;
    case StationVerdict::Version: {
        char firmware[HEADER_TEXT_CAPACITY];
        firmware_line(firmware, sizeof firmware);
        std::printf("tq734-station %s\n%s\n", TQ_VERSION_TEXT, firmware);
        return 0;
    }
    case StationVerdict::Error:
        std::fprintf(stderr, "tq734-station: %s\n", station_options.error);
        return EXIT_USAGE;
    case StationVerdict::Run:
        break;
    }
    // COMn without a device file of the fixed table would make each child end at once.
    for (unsigned i = 0; i < station_options.port_count; ++i) {
        char device[32];
        if (!com_device_name(station_options.ports[i], device, sizeof device)) {
            std::fprintf(stderr, "tq734-station: у порта COM%u нет файла устройства в Linux (COM1-COM96)\n",
                         unsigned(station_options.ports[i]));
            return EXIT_USAGE;
        }
    }
    gdk_set_allowed_backends("x11,*");
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "tq734-station: cannot open the display\n");
        return 1;
    }
    if (!find_updater(updater_path, sizeof updater_path)) {
        std::fprintf(stderr, "tq734-station: tq734-updater not found beside the station\n");
        return 1;
    }
    if (station_options.records_path[0])
        g_strlcpy(records_path, station_options.records_path, sizeof records_path);
    else if (!default_record_path(records_path, sizeof records_path))
        g_strlcpy(records_path, "records.jsonl", sizeof records_path);
    if (!settle_station_ports())
        return 0;
    station_version = TQ_VERSION_TEXT;
    // The children put it into their records.
    g_setenv("TQ734_STATION_VERSION", TQ_VERSION_TEXT, TRUE);
    port_slot_count = station_options.port_count;
    for (unsigned i = 0; i < port_slot_count; ++i)
        cycle_begin(port_slots[i], station_options.ports[i]);
    station_window_open();
    station_start_ports();
    station_window_run();
    return 0;
}
