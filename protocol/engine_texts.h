// Message-box texts of the update engine and the version text formatter.
#pragma once
#include <cstdint>

extern const wchar_t TEXT_UPDATE_SUCCEEDED[];
extern const wchar_t TEXT_WRONG_DEVICE_BOX[];

// Writes "Версия : major.minor" into buffer, always terminated, cut short at capacity.
void format_version_text(wchar_t* buffer, unsigned capacity, unsigned major, unsigned minor);
