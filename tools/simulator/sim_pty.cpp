// posix_openpt and friends; the link lets Wine see the slave as a COM port.
#include "sim_pty.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

bool pty_open(SimPty* pty)
{
    pty->master = -1;
    pty->slave_keeper = -1;
    int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
        fprintf(stderr, "tq734_sim: cannot open a pseudo-terminal: %s\n", strerror(errno));
        if (m >= 0)
            close(m);
        return false;
    }
    const char* name = ptsname(m);
    int s = name ? open(name, O_RDWR | O_NOCTTY) : -1;
    if (s < 0) {
        fprintf(stderr, "tq734_sim: cannot open the pty slave: %s\n", strerror(errno));
        close(m);
        return false;
    }
    termios t;
    if (tcgetattr(s, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        tcsetattr(s, TCSANOW, &t);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    fcntl(m, F_SETFD, FD_CLOEXEC);
    fcntl(s, F_SETFD, FD_CLOEXEC);
    pty->master = m;
    pty->slave_keeper = s;
    pty->slave_path = name;
    return true;
}

bool pty_create_link(const SimPty& pty, const std::string& link_path)
{
    struct stat st;
    if (lstat(link_path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            fprintf(stderr, "tq734_sim: %s exists and is not a symlink; not touching it\n", link_path.c_str());
            return false;
        }
        unlink(link_path.c_str());
    }
    if (symlink(pty.slave_path.c_str(), link_path.c_str()) != 0) {
        fprintf(stderr, "tq734_sim: cannot create link %s: %s\n", link_path.c_str(), strerror(errno));
        return false;
    }
    return true;
}

void pty_remove_link(const SimPty& pty, const std::string& link_path)
{
    char target[4096];
    ssize_t n = readlink(link_path.c_str(), target, sizeof target - 1);
    if (n < 0)
        return;
    target[n] = 0;
    if (pty.slave_path == target)
        unlink(link_path.c_str());
}

void pty_close(SimPty* pty)
{
    if (pty->slave_keeper >= 0)
        close(pty->slave_keeper);
    if (pty->master >= 0)
        close(pty->master);
    pty->slave_keeper = -1;
    pty->master = -1;
}
