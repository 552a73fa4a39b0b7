#include "run_record.h"

#include <cstdlib>

#include "device_record.h"
#include "device_watch.h"
#include "engine_texts.h"
#include "firmware_image.h"
#include "port_selection.h"
#include "record_file.h"
#include "run_log.h"
#include "run_platform.h"
#include "script_options.h"
#include "update_engine.h"

namespace {

DeviceRecord record;
uint32_t started_ms;
bool transfer_begun;
bool gave_up_silent;
bool gave_up_port;
bool cancelled;

// Copies a zero-terminated text into a record's array, cut to fit.
void copy_text(char* out, unsigned capacity, const char* text)
{
    unsigned n = 0;
    for (; text[n] && n + 1 < capacity; ++n)
        out[n] = text[n];
    out[n] = 0;
}

// A version word from the environment: printable ASCII only, anything else dropped.
void copy_printable(char* out, unsigned capacity, const char* text)
{
    unsigned n = 0;
    for (; *text && n + 1 < capacity; ++text)
        if (*text > 32 && *text < 127)
            out[n++] = *text;
    out[n] = 0;
}

// The engine's wide text (a message box's) as the record's UTF-8.
void copy_wide(char* out, unsigned capacity, const wchar_t* text)
{
    unsigned length = 0;
    while (text[length])
        ++length;
    wide_to_utf8(text, length, out, capacity);
}

// What the run came to, from what it saw and its exit code.
RecordResult result_of(uint8_t exit_code)
{
    if (record.code_known)
        return record.code == 0 ? RecordResult::Ok : RecordResult::DeviceError;
    if (watch_found_up_to_date())
        return RecordResult::UpToDate;
    if (exit_code == EXIT_WRONG_DEVICE && record.device_id_known)
        return RecordResult::NotTq734;
    if (gave_up_silent)
        return RecordResult::NoAnswer;
    if (gave_up_port)
        return RecordResult::PortUnusable;
    return RecordResult::Interrupted;
}

void note(const char* written, const char* reason)
{
    LogLine line;
    log_begin(line, "record");
    log_field(line, "written", written);
    if (reason)
        log_field(line, "reason", reason);
    log_end(line);
}

}  // namespace

void run_record_start(const char* program_version)
{
    record = DeviceRecord();
    transfer_begun = gave_up_silent = gave_up_port = cancelled = false;
    started_ms = monotonic_ms();
    record.start = local_time_now();
    record_host_name(record.host, sizeof record.host);
    copy_text(record.updater, sizeof record.updater, program_version);
    uint32_t crc = 0;
    if (firmware_header(record.firmware_type, sizeof record.firmware_type, &crc)) {
        record.firmware_crc_known = 1;
        record.firmware_crc = crc;
    } else {
        record.firmware_type[0] = 0;
    }
    copy_text(record.firmware_sha256, sizeof record.firmware_sha256, FIRMWARE_SHA256);
    record.firmware_size = IMAGE_SIZE;
    copy_text(record.operator_name, sizeof record.operator_name, script_options.operator_name);
    // A station that runs this program names itself here, so that its children's records
    // carry its version.
    const char* station = getenv("TQ734_STATION_VERSION");
    if (station)
        copy_printable(record.station, sizeof record.station, station);
}

void run_record_restart()
{
    started_ms = monotonic_ms();
    record.start = local_time_now();
}

void run_record_heard(const Reply& reply)
{
    switch (reply.kind) {
    case ReplyKind::IdentifyReply:
        record.device_id_known = 1;
        record.device_id[0] = reply.device_tag[0];
        record.device_id[1] = reply.device_tag[1];
        break;
    case ReplyKind::VersionReply:
        // The first reply: the device runs its old firmware until the image is complete, so a
        // reply during the transfer (without -w the first one comes then) is still the one before.
        if (record.version_before != RecordVersion::Unknown)
            break;
        record.version_before = reply.has_version ? RecordVersion::Given : RecordVersion::None;
        record.version_major = reply.major;
        record.version_minor = reply.minor;
        break;
    case ReplyKind::FinishReply:
        record.code_known = 1;
        record.code = reply.result_code;
        copy_wide(record.text, sizeof record.text,
                  reply.result_code == 0 ? TEXT_UPDATE_SUCCEEDED : result_code_text(reply.result_code));
        break;
    default:
        break;
    }
}

void run_record_transfer_begun()
{
    transfer_begun = true;
}

void run_record_resent()
{
    if (update_engine.state == Transferring)
        ++record.resends;
}

void run_record_final_command(bool sent)
{
    record.final_command = sent ? 1 : 0;
}

void run_record_gave_up(const char* reason)
{
    if (reason[0] == 's')
        gave_up_silent = true;
    else
        gave_up_port = true;
}

void run_record_cancel()
{
    cancelled = true;
}

void run_record_finish(uint8_t exit_code)
{
    if (!script_options.record_given || cancelled)
        return;
    // Waiting for a device that never came: there was no attempt to record.
    if (watch_mode() == WatchMode::Arrival && !watch_device_answered() && !gave_up_port)
        return;
    if (watch_mode() == WatchMode::Removal)
        return;
    record.end = local_time_now();
    record.port = script_options.port_given ? script_options.named_port : port_number;
    record.result = result_of(exit_code);
    if (record.result == RecordResult::NotTq734)
        copy_wide(record.text, sizeof record.text, TEXT_WRONG_DEVICE_BOX);
    record.exit_known = 1;
    record.exit_code = exit_code;
    record.milliseconds = monotonic_ms() - started_ms;
    record.blocks = transfer_begun ? update_engine.block_counter + 1u : 0u;
    static char line[DEVICE_RECORD_CAPACITY];
    unsigned length = format_device_record(record, line, sizeof line);
    if (length == 0) {
        note("no", "too_long");
        return;
    }
    if (!script_options.record_valid) {
        note("no", "bad_path");
        return;
    }
    if (!record_file_append(script_options.record_path, line, length)) {
        note("no", "write_failed");
        return;
    }
    note("yes", nullptr);
}
