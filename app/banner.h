// The window's banner and the firmware identity it announces: one place for the dialogs and
// for the release texts (guide, FIRMWARE.txt), which must name the same version and date.
// Plain defines, so that the parts join into the banner's one literal.
#pragma once

#define TQ_BANNER_STRINGIFY_(x) #x
#define TQ_BANNER_STRINGIFY(x) TQ_BANNER_STRINGIFY_(x)

// The firmware version the banner names, as the device reports it after the update (major.minor).
#define TQ_FIRMWARE_VERSION_MAJOR 2
#define TQ_FIRMWARE_VERSION_MINOR 385
#define TQ_FIRMWARE_VERSION_TEXT \
    TQ_BANNER_STRINGIFY(TQ_FIRMWARE_VERSION_MAJOR) "." TQ_BANNER_STRINGIFY(TQ_FIRMWARE_VERSION_MINOR)
// When the firmware was made, as the banner writes it (fixed text, never computed).
#define TQ_FIRMWARE_MADE_TEXT "Feb 11 2025 в 17:30:32"

// The banner: the updater's name and date, then the firmware's version and creation time.
inline constexpr wchar_t BANNER_TEXT[] =
    L"Updater CPU2\r\n(Mar 24 2023)\r\nПрошивка(версия " TQ_FIRMWARE_VERSION_TEXT ") была создана\r\n\t"
    TQ_FIRMWARE_MADE_TEXT "\r\n";
