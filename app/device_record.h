// The record of one update attempt: one JSON object on one line, appended to a records file
// that a plant's log collector reads as it is. The keys are a stable interface
// (docs/records.md). Shared by the updater and the station.
#pragma once
#include <cstdint>

#include "run_platform.h"

// What an attempt came to, as the record's "result" names it.
enum class RecordResult : uint8_t {
    Ok,             // the device reported success (code 0)
    UpToDate,       // the device already had this firmware: nothing written
    DeviceError,    // the device reported an error code
    NotTq734,       // the device identified itself as something else
    NoAnswer,       // the device fell silent past the limit
    PortUnusable,   // the port could not be opened
    Interrupted,    // the run was stopped (the station closed, the window closed)
    Crashed,        // the updater ended without writing its record
};

constexpr unsigned RECORD_HOST_CAPACITY = 256;
constexpr unsigned RECORD_VERSION_CAPACITY = 32;
constexpr unsigned RECORD_TYPE_CAPACITY = 64;
constexpr unsigned RECORD_TEXT_CAPACITY = 512;
constexpr unsigned RECORD_OPERATOR_CAPACITY = 128;
// Enough for every field at its longest with every byte escaped as \u00XX.
constexpr unsigned DEVICE_RECORD_CAPACITY = 8192;

// How much the attempt learnt of the device's version before the update.
enum class RecordVersion : uint8_t {
    Unknown,   // no version reply: null
    None,      // a reply without version fields: "none"
    Given,     // major.minor
};

// Plain data; strings are zero-terminated UTF-8 (bytes that are not are replaced when
// written), an empty station or operator is written as null.
struct DeviceRecord {
    LocalTime start, end;
    char host[RECORD_HOST_CAPACITY];
    uint16_t port;                               // COM number; 0: null
    char station[RECORD_VERSION_CAPACITY];       // the station's version; empty without one
    char updater[RECORD_VERSION_CAPACITY];
    char firmware_type[RECORD_TYPE_CAPACITY];    // empty: null (an image without a header)
    uint8_t firmware_crc_known;
    uint32_t firmware_crc;                       // CRC_FIRMWARE, written as "0x%08X"
    char firmware_sha256[65];
    uint32_t firmware_size;
    uint8_t device_id_known;                     // 0: no identification reply, null
    uint8_t device_id[2];                        // the device's tag, as it sent it
    RecordVersion version_before;
    uint16_t version_major, version_minor;
    RecordResult result;
    uint8_t code_known;                          // 0: the device gave no result code, null
    uint8_t code;
    char text[RECORD_TEXT_CAPACITY];             // the result's text (the message box's)
    uint8_t exit_known;                          // 0: no exit code (a killed child), null
    uint32_t exit_code;
    uint32_t milliseconds;                       // the attempt's duration, "seconds" with 3 decimals
    uint32_t blocks;                             // blocks sent, each counted once
    uint32_t resends;                            // blocks sent again after a silence
    uint8_t final_command;                       // 1: the final command went out
    char operator_name[RECORD_OPERATOR_CAPACITY];
};

// The word "result" carries.
const char* record_result_word(RecordResult result);
// The record as one JSON line ending in '\n'; its length, or 0 when it does not fit.
unsigned format_device_record(const DeviceRecord& record, char* out, unsigned capacity);
// A time as the log writes it: 2026-12-09T15:29:47.766+03:00; its length (29), or 0.
unsigned format_record_time(const LocalTime& time, char* out, unsigned capacity);
