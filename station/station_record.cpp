// The records the station writes itself, for a child that cannot: one that crashed or was
// stopped while it updated. The same record and the same file as the updater's own.
#include <cstdio>
#include <cstring>

#include "device_record.h"
#include "firmware_image.h"
#include "record_file.h"
#include "station_run.h"
#include "tq_version.h"

namespace {

RecordResult record_result(Outcome outcome)
{
    return outcome == Outcome::Interrupted ? RecordResult::Interrupted : RecordResult::Crashed;
}

// Decimal digits up to the stop character, below 65536; the position after them or null.
const char* take_number(const char* text, char stop, uint16_t* value)
{
    uint32_t v = 0;
    const char* start = text;
    for (; *text >= '0' && *text <= '9' && v < 65536; ++text)
        v = v * 10 + uint32_t(*text - '0');
    if (text == start || *text != stop || v >= 65536)
        return nullptr;
    *value = static_cast<uint16_t>(v);
    return text;
}

// "2.384" → 2, 384; "none" → a reply without version; anything else unknown.
void take_version(const char* text, DeviceRecord& r)
{
    if (std::strcmp(text, "none") == 0) {
        r.version_before = RecordVersion::None;
        return;
    }
    const char* dot = take_number(text, '.', &r.version_major);
    if (dot && take_number(dot + 1, 0, &r.version_minor))
        r.version_before = RecordVersion::Given;
}

}  // namespace

void station_write_record(const PortSlot& slot, Outcome outcome)
{
    static DeviceRecord r;
    r = DeviceRecord{};
    r.start = slot.start_time;
    r.end = local_time_now();
    record_host_name(r.host, sizeof r.host);
    r.port = slot.port;
    std::snprintf(r.station, sizeof r.station, "%s", TQ_VERSION_TEXT);
    std::snprintf(r.updater, sizeof r.updater, "%s", TQ_VERSION_TEXT);
    r.firmware_crc_known = firmware_header(r.firmware_type, sizeof r.firmware_type, &r.firmware_crc) ? 1 : 0;
    std::snprintf(r.firmware_sha256, sizeof r.firmware_sha256, "%s", FIRMWARE_SHA256);
    r.firmware_size = IMAGE_SIZE;
    if (slot.device_heard && std::strlen(slot.device_id) == 2) {
        r.device_id_known = 1;
        r.device_id[0] = static_cast<uint8_t>(slot.device_id[0]);
        r.device_id[1] = static_cast<uint8_t>(slot.device_id[1]);
    }
    take_version(slot.version_before, r);
    r.result = record_result(outcome);
    if (slot.result_seen && slot.result_code < 256) {
        r.code_known = 1;
        r.code = static_cast<uint8_t>(slot.result_code);
        std::snprintf(r.text, sizeof r.text, "%s", slot.result_text);
    }
    r.exit_known = 0;
    r.milliseconds = slot.elapsed_ms;
    r.blocks = slot.blocks;
    r.resends = slot.resends;
    r.final_command = slot.final_sent ? 1 : 0;
    std::snprintf(r.operator_name, sizeof r.operator_name, "%s", station_options.operator_name);
    static char line[DEVICE_RECORD_CAPACITY];
    unsigned length = format_device_record(r, line, sizeof line);
    bool ok = length > 0 && record_file_append(records_path, line, length);
    note_record_written(ok, ok ? nullptr : "write_failed");
}
