// The record of this run's update attempt (-r FILE): gathered from the engine's events and
// the run's end, appended as one JSON line right before the log's last line.
#pragma once
#include <cstdint>

#include "messages.h"

// The run began: its start time and the firmware's identity.
void run_record_start(const char* program_version);
// With -w the attempt begins when the device first answers.
void run_record_restart();
void run_record_heard(const Reply& reply);
// An update's transfer began; a block was sent again after a silence.
void run_record_transfer_begun();
void run_record_resent();
void run_record_final_command(bool sent);
// The run gave up: "port_unusable" or "silence_limit".
void run_record_gave_up(const char* reason);
// The options were refused before anything was tried: no record is due.
void run_record_cancel();
// Writes the record when one is due, and logs "record written=...".
void run_record_finish(uint8_t exit_code);
