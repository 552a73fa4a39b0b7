// The station's entry on Windows: options, the ports (given, remembered or chosen), the
// updater and the records file, then the window until it is closed.
#include <windows.h>

#include <cstdio>

#include "command_line.h"
#include "record_file.h"
#include "settings_store.h"
#include "station_options.h"
#include "station_platform.h"
#include "station_run.h"
#include "station_texts.h"
#include "station_window.h"
#include "tq_version.h"

namespace {

constexpr int EXIT_USAGE = 2;
constexpr unsigned MAX_WORDS = 64;
constexpr unsigned WORD_BYTES = 4 * (TOKEN_CAPACITY + 1);

char word_text[MAX_WORDS][WORD_BYTES];
const char* words[MAX_WORDS];

// The command line's words as UTF-8, by the updater's own token rules; the program's path
// is dropped. False when there are more words than any use of the station needs.
bool split_command_line(int* count)
{
    const wchar_t* at = GetCommandLineW();
    wchar_t token[TOKEN_CAPACITY + 1];
    unsigned length = 0;
    int n = -1;
    for (;;) {
        const wchar_t* next = next_token(at, token, TOKEN_CAPACITY, &length);
        if (length == 0 || next == at)
            break;
        at = next;
        token[length] = 0;
        if (n >= 0) {
            if (n >= int(MAX_WORDS))
                return false;
            if (WideCharToMultiByte(CP_UTF8, 0, token, -1, word_text[n], WORD_BYTES, nullptr, nullptr) <= 0)
                word_text[n][0] = 0;
            words[n] = word_text[n];
        }
        ++n;
    }
    *count = n < 0 ? 0 : n;
    return true;
}

// To standard output or error when the caller gave one (a script, a console with
// redirection), else in a message box, the only place a window program can say it.
void tell(const char* text, bool error)
{
    HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD type = out && out != INVALID_HANDLE_VALUE ? GetFileType(out) : FILE_TYPE_UNKNOWN;
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) {
        DWORD written = 0;
        WriteFile(out, text, DWORD(lstrlenA(text)), &written, nullptr);
        return;
    }
    static wchar_t wide[4096], caption[128];
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 4096);
    MultiByteToWideChar(CP_UTF8, 0, STATION_CAPTION, -1, caption, 128);
    MessageBoxW(nullptr, wide, caption, error ? MB_ICONERROR : MB_ICONINFORMATION);
}


}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    static char message[HEADER_TEXT_CAPACITY + 256];
    // Children inherit it: a crashing updater ends at once (its tile turns red) instead of
    // waiting behind the system's error dialog on a station nobody watches.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    int count = 0;
    if (!split_command_line(&count)) {
        tell("tq734-station: слишком много параметров\r\n", true);
        return EXIT_USAGE;
    }
    switch (read_station_options(count, words)) {
    case StationVerdict::Help:
        tell(STATION_HELP_TEXT, false);
        return 0;
    case StationVerdict::Version: {
        char firmware[HEADER_TEXT_CAPACITY];
        firmware_line(firmware, sizeof firmware);
        std::snprintf(message, sizeof message, "tq734-station %s\r\n%s\r\n", TQ_VERSION_TEXT, firmware);
        tell(message, false);
        return 0;
    }
    case StationVerdict::Error:
        std::snprintf(message, sizeof message, "tq734-station: %s\r\n", station_options.error);
        tell(message, true);
        return EXIT_USAGE;
    case StationVerdict::Run:
        break;
    }
    if (!find_updater(updater_path, sizeof updater_path)) {
        tell("tq734-station: рядом со станцией нет tq734-updater.exe\r\n", true);
        return 1;
    }
    if (station_options.records_path[0])
        std::snprintf(records_path, sizeof records_path, "%s", station_options.records_path);
    else if (!default_record_path(records_path, sizeof records_path))
        std::snprintf(records_path, sizeof records_path, "records.jsonl");
    if (!settle_station_ports())
        return 0;
    station_version = TQ_VERSION_TEXT;
    // The children put it into their records.
    SetEnvironmentVariableW(L"TQ734_STATION_VERSION", L"" TQ_VERSION_TEXT);
    port_slot_count = station_options.port_count;
    for (unsigned i = 0; i < port_slot_count; ++i)
        cycle_begin(port_slots[i], station_options.ports[i]);
    if (!station_window_open())
        return 1;
    station_start_ports();
    station_window_run();
    return 0;
}
