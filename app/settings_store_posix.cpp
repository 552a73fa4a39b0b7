// The remembered port in a per-user file: $XDG_CONFIG_HOME/tq734-updater/settings
// (~/.config when the variable is unset or not an absolute path), one line "COMport=N";
// the station's port set beside it in station-ports, one line "StationPorts=COM21 COM22".
#include "settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t PATH_CAPACITY = 4096;
const char SETTINGS_DIR[] = "tq734-updater";
const char SETTINGS_FILE[] = "settings";
const char PORT_KEY[] = "COMport=";
const char STATION_FILE[] = "station-ports";
const char STATION_KEY[] = "StationPorts=";
// A well-formed file is one short line; anything longer is not ours.
constexpr size_t MAX_FILE = 64;

// The per-user configuration directory; false when there is no home to put it in.
bool config_dir(char* dir, size_t capacity)
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    int n;
    if (xdg && xdg[0] == '/') {
        n = std::snprintf(dir, capacity, "%s", xdg);
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            const passwd* pw = getpwuid(getuid());
            home = pw && pw->pw_dir && pw->pw_dir[0] == '/' ? pw->pw_dir : nullptr;
        }
        if (!home)
            return false;
        n = std::snprintf(dir, capacity, "%s/.config", home);
    }
    return n > 0 && static_cast<size_t>(n) < capacity;
}

// The settings folder and the path of one file in it.
bool settings_paths(char* folder, char* file, const char* name = SETTINGS_FILE)
{
    char base[PATH_CAPACITY];
    if (!config_dir(base, sizeof base))
        return false;
    int a = std::snprintf(folder, PATH_CAPACITY, "%s/%s", base, SETTINGS_DIR);
    int b = std::snprintf(file, PATH_CAPACITY, "%s/%s/%s", base, SETTINGS_DIR, name);
    return a > 0 && a < static_cast<int>(PATH_CAPACITY) && b > 0 && b < static_cast<int>(PATH_CAPACITY);
}

// Makes a folder (and its parents) private to the user; existing ones are left as they are.
bool make_folders(char* path)
{
    for (char* p = path + 1; *p; ++p) {
        if (*p != '/')
            continue;
        *p = 0;
        bool ok = mkdir(path, 0700) == 0 || errno == EEXIST;
        *p = '/';
        if (!ok)
            return false;
    }
    return mkdir(path, 0700) == 0 || errno == EEXIST;
}

// "COMport=" and a decimal 32-bit number, optionally followed by a line end; else false.
bool parse_settings(const char* text, size_t length, uint32_t* value)
{
    size_t key = sizeof PORT_KEY - 1;
    if (length <= key || std::memcmp(text, PORT_KEY, key) != 0)
        return false;
    uint64_t n = 0;
    size_t i = key;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = n * 10 + static_cast<unsigned>(text[i] - '0');
        if (n > 0xFFFFFFFFu)
            return false;
    }
    if (i == key)
        return false;
    if (i < length && text[i] == '\r')
        ++i;
    if (i < length && text[i] == '\n')
        ++i;
    if (i != length)
        return false;
    *value = static_cast<uint32_t>(n);
    return true;
}

// Writes the whole text to fd; false on any shortfall.
bool write_whole(int fd, const char* text, size_t length)
{
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

// A missing, unreadable or malformed file reads as nothing stored; the low 16 bits count.
uint16_t load_port()
{
    char folder[PATH_CAPACITY], file[PATH_CAPACITY];
    if (!settings_paths(folder, file))
        return 0;
    int fd = open(file, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return 0;
    struct stat st;
    char text[MAX_FILE + 1];
    ssize_t length = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        length = read(fd, text, sizeof text);
    close(fd);
    uint32_t value = 0;
    if (length <= 0 || static_cast<size_t>(length) > MAX_FILE ||
        !parse_settings(text, static_cast<size_t>(length), &value))
        return 0;
    return static_cast<uint16_t>(value & 0xFFFF);
}

// A temporary file renamed over the old one: a crash leaves the old file or the new, never half.
void replace_file(const char* name, const char* text, size_t length)
{
    char folder[PATH_CAPACITY], file[PATH_CAPACITY], temporary[PATH_CAPACITY + 16];
    if (!settings_paths(folder, file, name) || !make_folders(folder))
        return;
    std::snprintf(temporary, sizeof temporary, "%s.XXXXXX", file);
    int fd = mkstemp(temporary);
    if (fd < 0)
        return;
    bool written = write_whole(fd, text, length) && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (!written || rename(temporary, file) != 0)
        unlink(temporary);
}

void remember_port(uint16_t port)
{
    char text[32];
    int length = std::snprintf(text, sizeof text, "%s%u\n", PORT_KEY, static_cast<unsigned>(port));
    replace_file(SETTINGS_FILE, text, static_cast<size_t>(length));
}

bool load_station_ports(char* text, unsigned capacity)
{
    char folder[PATH_CAPACITY], file[PATH_CAPACITY];
    if (capacity == 0 || !settings_paths(folder, file, STATION_FILE))
        return false;
    int fd = open(file, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    char stored[STATION_PORTS_CAPACITY + sizeof STATION_KEY + 2];
    ssize_t length = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        length = read(fd, stored, sizeof stored - 1);
    close(fd);
    size_t key = sizeof STATION_KEY - 1;
    if (length <= 0 || static_cast<size_t>(length) <= key || std::memcmp(stored, STATION_KEY, key) != 0)
        return false;
    stored[length] = 0;
    std::snprintf(text, capacity, "%s", stored + key);
    text[std::strcspn(text, "\r\n")] = 0;
    return text[0] != 0;
}

void remember_station_ports(const char* text)
{
    char line[STATION_PORTS_CAPACITY + sizeof STATION_KEY + 2];
    int length = std::snprintf(line, sizeof line, "%s%s\n", STATION_KEY, text);
    if (length > 0 && static_cast<size_t>(length) < sizeof line)
        replace_file(STATION_FILE, line, static_cast<size_t>(length));
}
