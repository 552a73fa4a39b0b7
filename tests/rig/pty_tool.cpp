// tq_pty: the Linux side of a COM port under Wine. Backs $WINEPREFIX/dosdevices/comN with a
// pseudo-terminal, runs one command (usually a test under Wine), and removes everything it
// made when the command ends, fails or overruns.
//
//   tq_pty [--data N] [--control M] [--refuse N]... [--absent N]... [--timeout S] -- command...
//
//   --data N     comN is a pty. With --control the tool owns its other end and the line starts
//                at 9600, 2 stop bits, RTS/CTS and XON/XOFF; without it the line is raw and the
//                command inherits that end as fd $TQ_PTY_DATA_FD (a simulator can use it).
//   --control M  comM is a second pty on which the command asks the tool, one line each:
//                  termios        -> "termios baud=B data=D parity=none|even|odd stop=S
//                                     rtscts=0|1 ixon=0|1 ixoff=0|1"  (the data line's settings)
//                  send HEX       -> "ok"    queue bytes for the data line
//                  flood N        -> "ok"    queue N bytes 0,1,..,250,0,1,.. for the data line
//                  take MS        -> "data HEX"  everything the data line has sent, once it has
//                                            been quiet for MS ms (at most 5 s)
//                  stall          -> "ok"    stop reading the data line, so that it fills up
//                  drain          -> "ok"    read it again
//                  hangup         -> "ok"    close the data line's other end (the port goes dead)
//                  plug           -> "ok"    a new data line under the same comN (the adapter is
//                                            back), starting as awkward as the first
//   --refuse N   comN links to a directory: present, but opening it fails
//   --absent N   no comN at all
//   --timeout S  stop the command (by its pid) after S seconds; exit status 124
// The exit status is the command's.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Pty {
    int master = -1;
    int slave = -1;  // held so that the line never hangs up between Wine's opens
    std::string slave_path;
};

std::vector<std::string> made_links;
Pty data_pty, control_pty;
int data_port = 0;
pid_t child = -1;
volatile sig_atomic_t stop_signal = 0;

// Milliseconds on a clock that never jumps.
long long now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// Remembers a termination request; the main loop acts on it.
void on_signal(int sig)
{
    stop_signal = sig;
}

// $WINEPREFIX/dosdevices/comN.
std::string com_link(int port)
{
    const char* prefix = std::getenv("WINEPREFIX");
    return std::string(prefix ? prefix : "") + "/dosdevices/com" + std::to_string(port);
}

// Points comN at target, replacing whatever link was there.
bool make_link(int port, const std::string& target)
{
    std::string link = com_link(port);
    unlink(link.c_str());
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "tq_pty: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    made_links.push_back(link);
    return true;
}

// A raw pty pair whose master is private to this process. An awkward line starts at 9600 with
// two stop bits, RTS/CTS and XON/XOFF, so that a test sees what opening the port changes (the
// kernel keeps every pty at 8 data bits without parity, whatever is asked).
bool open_pty(Pty& pty, bool awkward)
{
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0)
        return false;
    pty.slave_path = ptsname(pty.master);
    pty.slave = open(pty.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.slave < 0)
        return false;
    termios t;
    tcgetattr(pty.slave, &t);
    cfmakeraw(&t);
    if (awkward) {
        t.c_cflag |= CSTOPB | CRTSCTS;
        t.c_iflag |= IXON | IXOFF;
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
    }
    tcsetattr(pty.slave, TCSANOW, &t);
    fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    return true;
}

// Closes both ends of a pty that is still open.
void close_pty(Pty& pty)
{
    if (pty.slave >= 0)
        close(pty.slave);
    if (pty.master >= 0)
        close(pty.master);
    pty.slave = pty.master = -1;
}

// Removes every link this run made.
void remove_links()
{
    for (const std::string& link : made_links)
        unlink(link.c_str());
    made_links.clear();
}

// The baud rate a termios speed constant stands for.
long speed_value(speed_t s)
{
    static const struct {
        speed_t code;
        long baud;
    } table[] = {{B0, 0},         {B300, 300},       {B1200, 1200},     {B2400, 2400},
                 {B4800, 4800},   {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
                 {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}};
    for (const auto& entry : table)
        if (entry.code == s)
            return entry.baud;
    return -1;
}

// The data line's settings as one reply line.
std::string termios_reply()
{
    termios t;
    if (data_pty.slave < 0 || tcgetattr(data_pty.slave, &t) != 0)
        return "error no data line";
    int bits = (t.c_cflag & CSIZE) == CS8 ? 8 : (t.c_cflag & CSIZE) == CS7 ? 7 : (t.c_cflag & CSIZE) == CS6 ? 6 : 5;
    const char* parity = !(t.c_cflag & PARENB) ? "none" : (t.c_cflag & PARODD) ? "odd" : "even";
    char line[160];
    std::snprintf(line, sizeof line, "termios baud=%ld data=%d parity=%s stop=%d rtscts=%d ixon=%d ixoff=%d",
                  speed_value(cfgetospeed(&t)), bits, parity, (t.c_cflag & CSTOPB) ? 2 : 1,
                  (t.c_cflag & CRTSCTS) ? 1 : 0, (t.c_iflag & IXON) ? 1 : 0, (t.c_iflag & IXOFF) ? 1 : 0);
    return line;
}

// Bytes as lower-case hex digits.
std::string to_hex(const std::vector<unsigned char>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Hex digits back to bytes; false on anything else.
bool from_hex(const std::string& text, std::vector<unsigned char>& out)
{
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end;
        long v = std::strtol(pair, &end, 16);
        if (*end)
            return false;
        out.push_back(static_cast<unsigned char>(v));
    }
    return true;
}

// Writes the whole buffer to a non-blocking fd, waiting as needed (control replies are short).
void write_all(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

// Stops the command: TERM, then KILL if it lingers; both by its own pid.
void stop_child()
{
    if (child <= 0)
        return;
    kill(child, SIGTERM);
    for (int i = 0; i < 40; i++) {
        if (waitpid(child, nullptr, WNOHANG) == child) {
            child = -1;
            return;
        }
        usleep(50000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    child = -1;
}

struct Server {
    std::string request;                 // control bytes up to the next newline
    std::vector<unsigned char> outgoing;  // waiting to go to the data line
    size_t outgoing_done = 0;
    std::vector<unsigned char> received;  // what the data line has sent
    long long last_received = 0;
    long long take_quiet = -1;            // a pending "take": its quiet period
    long long take_started = 0;
    bool stalled = false;                 // the data line is not read
};

// Acts on one control line.
void handle_request(Server& s, const std::string& line)
{
    auto reply = [](const std::string& text) { write_all(control_pty.master, text + "\n"); };
    if (line == "termios") {
        reply(termios_reply());
    } else if (line.rfind("send ", 0) == 0) {
        std::vector<unsigned char> bytes;
        if (!from_hex(line.substr(5), bytes))
            return reply("error bad hex");
        s.outgoing.insert(s.outgoing.end(), bytes.begin(), bytes.end());
        reply("ok");
    } else if (line.rfind("flood ", 0) == 0) {
        long n = std::strtol(line.c_str() + 6, nullptr, 10);
        for (long i = 0; i < n; i++)
            s.outgoing.push_back(static_cast<unsigned char>(i % 251));
        reply("ok");
    } else if (line.rfind("take ", 0) == 0) {
        s.take_quiet = std::strtol(line.c_str() + 5, nullptr, 10);
        s.take_started = now_ms();
    } else if (line == "stall" || line == "drain") {
        s.stalled = line == "stall";
        reply("ok");
    } else if (line == "hangup") {
        close_pty(data_pty);
        s.outgoing.clear();
        reply("ok");
    } else if (line == "plug") {
        close_pty(data_pty);
        s.outgoing.clear();
        bool ok = open_pty(data_pty, true) && make_link(data_port, data_pty.slave_path);
        reply(ok ? "ok" : "error cannot plug");
    } else {
        reply("error unknown request");
    }
}

// True once the command has ended, been stopped by a signal to us, or overrun the
// deadline; result is then the exit status to report.
bool command_over(long long deadline, int& result)
{
    int status;
    if (waitpid(child, &status, WNOHANG) == child) {
        child = -1;
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }
    if (stop_signal) {
        stop_child();
        result = 128 + stop_signal;
        return true;
    }
    if (deadline && now_ms() > deadline) {
        std::fprintf(stderr, "tq_pty: command overran its time; stopped\n");
        stop_child();
        result = 124;
        return true;
    }
    return false;
}

// Moves bytes between the ptys and the command's requests until the command ends.
int serve(long long deadline)
{
    Server s;
    for (;;) {
        int result;
        if (command_over(deadline, result))
            return result;
        pollfd fds[2];
        int n = 0;
        if (control_pty.master >= 0)
            fds[n++] = {control_pty.master, POLLIN, 0};
        if (data_pty.master >= 0) {
            short events = s.stalled ? 0 : POLLIN;
            if (s.outgoing_done < s.outgoing.size())
                events |= POLLOUT;
            fds[n++] = {data_pty.master, events, 0};
        }
        poll(fds, static_cast<nfds_t>(n), 5);

        unsigned char chunk[4096];
        if (control_pty.master >= 0) {
            ssize_t got = read(control_pty.master, chunk, sizeof chunk);
            for (ssize_t i = 0; i < got; i++) {
                if (chunk[i] == '\n') {
                    handle_request(s, s.request);
                    s.request.clear();
                } else if (chunk[i] != '\r') {
                    s.request += static_cast<char>(chunk[i]);
                }
            }
        }
        if (data_pty.master >= 0) {
            ssize_t got = s.stalled ? 0 : read(data_pty.master, chunk, sizeof chunk);
            if (got > 0) {
                s.received.insert(s.received.end(), chunk, chunk + got);
                s.last_received = now_ms();
            }
            if (s.outgoing_done < s.outgoing.size()) {
                ssize_t put = write(data_pty.master, s.outgoing.data() + s.outgoing_done,
                                    s.outgoing.size() - s.outgoing_done);
                if (put > 0)
                    s.outgoing_done += static_cast<size_t>(put);
                if (s.outgoing_done == s.outgoing.size()) {
                    s.outgoing.clear();
                    s.outgoing_done = 0;
                }
            }
        }
        if (s.take_quiet >= 0) {
            long long t = now_ms();
            bool quiet = t - s.take_started >= s.take_quiet && t - s.last_received >= s.take_quiet;
            if (quiet || t - s.take_started >= 5000) {
                write_all(control_pty.master, "data " + to_hex(s.received) + "\n");
                s.received.clear();
                s.take_quiet = -1;
            }
        }
    }
}

// Waits for the command alone (no control line): the data line is the command's to use.
int wait_only(long long deadline)
{
    for (;;) {
        int result;
        if (command_over(deadline, result))
            return result;
        usleep(10000);
    }
}

// The usage text, and a failure status.
int usage()
{
    std::fprintf(stderr,
                 "usage: tq_pty [--data N] [--control M] [--refuse N]... [--absent N]... [--timeout S] "
                 "-- command...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    int control_port = 0;
    long timeout_s = 0;
    std::vector<int> refuse, absent;
    int i = 1;
    for (; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--")
            break;
        if (i + 1 >= argc)
            return usage();
        int v = std::atoi(argv[++i]);
        if (a == "--data")
            data_port = v;
        else if (a == "--control")
            control_port = v;
        else if (a == "--refuse")
            refuse.push_back(v);
        else if (a == "--absent")
            absent.push_back(v);
        else if (a == "--timeout")
            timeout_s = v;
        else
            return usage();
    }
    if (i >= argc - 1)
        return usage();
    if (!std::getenv("WINEPREFIX")) {
        std::fprintf(stderr, "tq_pty: WINEPREFIX is not set (run inside rig_start)\n");
        return 2;
    }
    char** command = argv + i + 1;

    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    bool ready = true;
    if (data_port) {
        ready = open_pty(data_pty, control_port != 0) && make_link(data_port, data_pty.slave_path);
        if (ready && !control_port) {
            // The command (a Linux-side driver) gets the other end of the data line.
            fcntl(data_pty.master, F_SETFD, 0);
            fcntl(data_pty.master, F_SETFL, fcntl(data_pty.master, F_GETFL) & ~O_NONBLOCK);
            setenv("TQ_PTY_DATA_FD", std::to_string(data_pty.master).c_str(), 1);
        }
    }
    if (ready && control_port)
        ready = open_pty(control_pty, false) && make_link(control_port, control_pty.slave_path);
    for (int port : refuse)
        ready = ready && make_link(port, "/");
    for (int port : absent) {
        std::string link = com_link(port);
        unlink(link.c_str());
        struct stat st;
        if (lstat(link.c_str(), &st) == 0)
            ready = false;
    }

    int result = 1;
    if (ready) {
        long long deadline = timeout_s > 0 ? now_ms() + timeout_s * 1000 : 0;
        child = fork();
        if (child == 0) {
            execvp(command[0], command);
            std::fprintf(stderr, "tq_pty: cannot run %s: %s\n", command[0], std::strerror(errno));
            _exit(127);
        }
        if (child > 0)
            result = control_port ? serve(deadline) : wait_only(deadline);
    } else {
        std::fprintf(stderr, "tq_pty: could not prepare the ports\n");
    }
    remove_links();
    close_pty(control_pty);
    close_pty(data_pty);
    return result;
}
