// Texts the update engine shows (status line, info line, message boxes) and the version
// text formatter. One table for the program and the technician's guide.
#pragma once
#include <cstdint>

extern const wchar_t STATUS_WAITING[];
extern const wchar_t STATUS_EXCHANGING[];
extern const wchar_t STATUS_UPDATING[];
extern const wchar_t STATUS_COMPLETED[];
extern const wchar_t STATUS_ERROR[];
extern const wchar_t INFO_NO_REPLY[];
extern const wchar_t INFO_SUCCESS[];
extern const wchar_t INFO_WRONG_DEVICE[];
extern const wchar_t CAPTION_INFORMATION[];
extern const wchar_t TEXT_UPDATE_SUCCEEDED[];
extern const wchar_t TEXT_WRONG_DEVICE_BOX[];

// Writes "Версия : major.minor" into buffer, always terminated, cut short at capacity.
void format_version_text(wchar_t* buffer, unsigned capacity, unsigned major, unsigned minor);
