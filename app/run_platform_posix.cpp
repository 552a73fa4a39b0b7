#include "run_platform.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace {
bool output_is_file;   // a regular file takes every line; a pipe or terminal may be full
}

uint32_t monotonic_ms()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

LocalTime local_time_now()
{
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    time_t seconds = now.tv_sec;
    tm local = {};
    localtime_r(&seconds, &local);
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                     local.tm_sec,        static_cast<int>(now.tv_nsec / 1000000),
                     static_cast<int>(local.tm_gmtoff / 60)};
}

void pause_ms(unsigned milliseconds)
{
    timespec wait = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

// A reader that went away must not end the update: writes then just fail with EPIPE.
bool log_output_open()
{
    signal(SIGPIPE, SIG_IGN);
    struct stat info = {};
    if (fstat(STDOUT_FILENO, &info) != 0)
        return false;
    output_is_file = S_ISREG(info.st_mode);
    return true;
}

void log_output_write(const char* bytes, unsigned length)
{
    // A full pipe would stop the transfer: the line is dropped instead.
    if (!output_is_file) {
        pollfd out = {STDOUT_FILENO, POLLOUT, 0};
        if (poll(&out, 1, 0) != 1 || !(out.revents & POLLOUT))
            return;
    }
    while (length > 0) {
        ssize_t n = write(STDOUT_FILENO, bytes, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;   // a full disk, a closed pipe: the line is lost, the update goes on
        bytes += n;
        length -= static_cast<unsigned>(n);
    }
}
