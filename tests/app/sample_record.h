// A successful update as the updater records it: the fixture of the record tests and of the
// programs that write records for the collector's tests.
#pragma once

#include <cstring>

#include "device_record.h"

inline DeviceRecord sample_record()
{
    DeviceRecord r = {};
    r.start = LocalTime{2026, 12, 9, 15, 29, 47, 66, 180};
    r.end = LocalTime{2026, 12, 9, 15, 31, 2, 5, 180};
    std::strcpy(r.host, "line-3");
    r.port = 21;
    std::strcpy(r.updater, "1.4.0");
    std::strcpy(r.firmware_type, "TQ734_CPU2");
    r.firmware_crc_known = 1;
    r.firmware_crc = 0x0A1B2C3D;
    std::strcpy(r.firmware_sha256, "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    r.firmware_size = 314912;
    r.device_id_known = 1;
    r.device_id[0] = 'T';
    r.device_id[1] = 'Q';
    r.version_before = RecordVersion::Given;
    r.version_major = 2;
    r.version_minor = 384;
    r.result = RecordResult::Ok;
    r.code_known = 1;
    r.code = 0;
    std::strcpy(r.text, "Обновление ПО произведено успешно.");
    r.exit_known = 1;
    r.exit_code = 0;
    r.milliseconds = 74939;
    r.blocks = 1231;
    r.resends = 2;
    r.final_command = 1;
    return r;
}
