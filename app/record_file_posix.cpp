#include "record_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

// Appends text to out at *length; false when it does not fit.
bool append(char* out, unsigned capacity, unsigned* length, const char* text)
{
    unsigned n = static_cast<unsigned>(strlen(text));
    if (*length + n + 1 > capacity)
        return false;
    memcpy(out + *length, text, n + 1);
    *length += n;
    return true;
}

// mkdir -p of the folder part of path (everything before the last '/').
bool make_folders(char* path)
{
    for (char* p = path + 1; *p; ++p) {
        if (*p != '/')
            continue;
        *p = 0;
        bool made = mkdir(path, 0700) == 0 || errno == EEXIST;
        *p = '/';
        if (!made)
            return false;
    }
    return true;
}

// The append itself, on the open and locked file.
bool append_whole(int fd, const char* line, unsigned length)
{
    struct stat before = {};
    if (fstat(fd, &before) != 0)
        return false;
    // A line left unfinished (a writer killed outright) is ended first, so that this
    // record stands on its own line.
    char last = '\n';
    if (before.st_size > 0 && pread(fd, &last, 1, before.st_size - 1) != 1)
        last = '\n';
    iovec parts[2] = {{const_cast<char*>("\n"), 1}, {const_cast<char*>(line), length}};
    int first = last == '\n' ? 1 : 0;
    size_t total = length + (first == 0 ? 1u : 0u);
    // One write: with O_APPEND the line lands whole at the end.
    ssize_t n;
    do {
        n = writev(fd, parts + first, 2 - first);
    } while (n < 0 && errno == EINTR);
    bool whole = n == static_cast<ssize_t>(total);
    // A full disk took part of the line: take it back, so that no half record stays.
    if (n > 0 && !whole)
        (void)ftruncate(fd, before.st_size);
    return whole;
}

}  // namespace

bool record_file_append(const char* path_utf8, const char* line, unsigned length)
{
    int fd = open(path_utf8, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0)
        return false;
    // The updaters of a station share one file: the lock keeps each append, and its undoing,
    // apart from the others' (flock waits; it fails only where locks are not supported).
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    // A signal that would end the program waits until the line is in the file whole.
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    bool whole = append_whole(fd, line, length);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    bool synced = fsync(fd) == 0;
    // Closing gives the lock back.
    bool closed = close(fd) == 0;
    return whole && synced && closed;
}

bool default_record_path(char* out, unsigned capacity)
{
    unsigned length = 0;
    out[0] = 0;
    const char* data = getenv("XDG_DATA_HOME");
    // The XDG rule: a relative value is invalid and ignored.
    if (data && data[0] == '/') {
        if (!append(out, capacity, &length, data))
            return false;
    } else {
        const char* home = getenv("HOME");
        if (!home || home[0] != '/')
            return false;
        if (!append(out, capacity, &length, home) || !append(out, capacity, &length, "/.local/share"))
            return false;
    }
    if (!append(out, capacity, &length, "/tq734-updater/records.jsonl"))
        return false;
    return make_folders(out);
}

void record_host_name(char* out, unsigned capacity)
{
    if (capacity == 0)
        return;
    if (gethostname(out, capacity) != 0 || out[0] == 0) {
        strncpy(out, "unknown", capacity);
    }
    out[capacity - 1] = 0;
}
