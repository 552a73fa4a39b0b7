// For unattended stations: waiting for a device to arrive on the named port before the
// automatic update (-w), and waiting for it to be removed (-g). Both poll with the
// identification request and write nothing else until they have decided.
#pragma once
#include <cstdint>

#include "messages.h"

enum class WatchMode : uint8_t { None, Arrival, Removal };

// What a version reply means for a TQ734 that has just answered.
enum class VersionVerdict : uint8_t { UpToDate, Update };

// The device already runs the built-in firmware's version: not updated unless forced. A reply
// without version fields says nothing, so that device is updated.
VersionVerdict judge_version(const Reply& version, bool force);

// Before the port is opened: the mode the options ask for; removal takes the port's bytes.
void watch_prepare();
// After the start-up port choice: false when there is no port to watch at all.
bool watch_start();
// Every tick: the port's state, the removal's polling, the decision after the version.
void watch_tick();
// A reply the engine acts on (while waiting for an arrival).
void watch_heard(const Reply& reply);
WatchMode watch_mode();
// True once a device answered (the -t limit counts only from then on).
bool watch_device_answered();
// True when the device had this firmware and was left as it was.
bool watch_found_up_to_date();
