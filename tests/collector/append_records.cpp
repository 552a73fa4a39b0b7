// Appends records as the updater does (the same line, the same append), for the collector
// test: append_records FILE STATION FIRST COUNT writes COUNT records whose operator names
// are STATION-FIRST ... STATION-(FIRST+COUNT-1), each with a device text that needs escaping.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device_record.h"
#include "record_file.h"

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: append_records FILE STATION FIRST COUNT\n");
        return 2;
    }
    long first = std::atol(argv[3]), count = std::atol(argv[4]);
    static DeviceRecord r;
    r.start = local_time_now();
    record_host_name(r.host, sizeof r.host);
    r.port = 21;
    std::strcpy(r.updater, "1.0.0");
    std::strcpy(r.station, "1.0.0");
    std::strcpy(r.firmware_type, "TQ734_CPU2");
    r.firmware_crc_known = 1;
    r.firmware_crc = 0x3B206317;
    std::strcpy(r.firmware_sha256, "0f9b28c6ff8a334f5ac722d6512045733048ea1fa1e9747b29394c27956780d2");
    r.firmware_size = 314912;
    r.device_id_known = 1;
    r.device_id[0] = 'T';
    r.device_id[1] = 'Q';
    r.version_before = RecordVersion::Given;
    r.version_major = 2;
    r.version_minor = 384;
    r.result = RecordResult::DeviceError;
    r.code_known = 1;
    r.code = 8;
    std::strcpy(r.text, "Ошибка загрузки прошивки.\r\nОбновление не произведено.");
    r.exit_known = 1;
    r.exit_code = 8;
    r.blocks = 1231;
    r.final_command = 1;
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
