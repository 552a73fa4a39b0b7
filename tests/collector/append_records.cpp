// Appends records as the updater does (the same line, the same append), for the collector
// test: append_records FILE STATION FIRST COUNT writes COUNT records whose operator names
// are STATION-FIRST ... STATION-(FIRST+COUNT-1), each with a device text that needs escaping.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device_record.h"
#include "record_file.h"
#include "sample_record.h"

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: append_records FILE STATION FIRST COUNT\n");
        return 2;
    }
    long first = std::atol(argv[3]), count = std::atol(argv[4]);
    // A failed update: its text is one the device sends, with a line break to escape.
    static DeviceRecord r = sample_record();
    r.start = local_time_now();
    record_host_name(r.host, sizeof r.host);
    std::strcpy(r.station, "1.0.0");
    r.result = RecordResult::DeviceError;
    r.code = 8;
    std::strcpy(r.text, "Ошибка загрузки прошивки.\r\nОбновление не произведено.");
    r.exit_code = 8;
    static char line[DEVICE_RECORD_CAPACITY];
    for (long i = first; i < first + count; ++i) {
        r.end = local_time_now();
        r.milliseconds = unsigned(i);
        std::snprintf(r.operator_name, sizeof r.operator_name, "%s-%ld \"смена\"", argv[2], i);
        unsigned length = format_device_record(r, line, sizeof line);
        if (length == 0 || !record_file_append(argv[1], line, length)) {
            std::fprintf(stderr, "append_records: cannot append to %s\n", argv[1]);
            return 1;
        }
    }
    return 0;
}
