#include "fake_devices.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

std::string make_device_dir()
{
    char templ[] = "/tmp/tq734-devices-XXXXXX";
    const char* dir = mkdtemp(templ);
    std::string path = dir ? dir : "";
    setenv("TQ734_DEVICE_DIR", path.c_str(), 1);
    return path;
}

void remove_device_dir(const std::string& dir)
{
    std::error_code ignored;
    if (!dir.empty())
        std::filesystem::remove_all(dir, ignored);
}

bool pty_open(FakePty* pty)
{
    int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0 || !ptsname(m)) {
        if (m >= 0)
            close(m);
        return false;
    }
    pty->slave_path = ptsname(m);
    pty->keeper = open(pty->slave_path.c_str(), O_RDWR | O_NOCTTY);
    if (pty->keeper < 0) {
        close(m);
        return false;
    }
    termios t;
    tcgetattr(pty->keeper, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(pty->keeper, TCSANOW, &t);
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    pty->master = m;
    return true;
}

void pty_close(FakePty* pty)
{
    if (pty->keeper >= 0)
        close(pty->keeper);
    if (pty->master >= 0)
        close(pty->master);
    pty->keeper = pty->master = -1;
}

void link_node(const std::string& dir, const std::string& name, const std::string& target)
{
    std::string link = dir + "/" + name;
    unlink(link.c_str());
    if (symlink(target.c_str(), link.c_str()) != 0)
        std::abort();
}

std::vector<unsigned char> pty_take(const FakePty& pty, unsigned quiet_ms)
{
    std::vector<unsigned char> got;
    for (;;) {
        pollfd p = {pty.master, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(quiet_ms)) <= 0 || !(p.revents & POLLIN))
            return got;
        unsigned char buffer[4096];
        ssize_t n = read(pty.master, buffer, sizeof buffer);
        if (n <= 0)
            return got;
        got.insert(got.end(), buffer, buffer + n);
    }
}

bool pty_send(const FakePty& pty, const std::vector<unsigned char>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(pty.master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p = {pty.master, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}
