// The serial channel on Linux: a termios device polled by a GLib timer on the UI thread.
// A port that goes away while open (an adapter pulled, a pty hung up), or stops taking data,
// is reopened when it comes back, with the same settings.
#include "serial_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <glib.h>

#include <cerrno>
#include <cstdlib>

#include "com_devices.h"
#include "grid_timer.h"

namespace {

constexpr gint64 REOPEN_INTERVAL_US = 500 * 1000;
// A frame takes at most 46 ms on the wire: one still unfinished after a second never will be,
// and the one thread must not wait for it.
constexpr gint64 WRITE_LIMIT_US = 1000 * 1000;
// On close, how long the last frame (the final command) may take to leave the driver.
constexpr gint64 CLOSE_DRAIN_US = 200 * 1000;
constexpr size_t PATH_CAPACITY = 4096;

struct ChannelSlot {
    int fd;          // -1 while closed or lost
    bool open;       // opened and not yet closed, lost or not
    ReceiveHandler handler;
    uint8_t* receive_buffer;
    guint poll_timer;
    uint16_t receive_size;
    uint16_t transmit_size;
    // What a reopen after a loss needs.
    char path[PATH_CAPACITY];
    uint32_t baud;
    uint8_t stop_bits;
    gint64 last_reopen_attempt;
};

ChannelSlot channel_slot = {-1, false, nullptr, nullptr, 0, 0, 0, {}, 0, 0, 0};

struct BaudCode {
    uint32_t rate;
    speed_t code;
};

const BaudCode BAUD_CODES[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
    {921600, B921600},
};

// The termios code of a standard rate; false for a rate termios cannot name.
bool baud_code(uint32_t rate, speed_t* code)
{
    for (const BaudCode& b : BAUD_CODES)
        if (b.rate == rate) {
            *code = b.code;
            return true;
        }
    return false;
}

// Raw 8 data bits, no parity, no flow control of any kind; reads return at once.
bool configure_line(int fd, uint32_t baud, uint8_t stop_bits)
{
    speed_t code;
    termios t;
    if (!baud_code(baud, &code) || tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= CS8 | CLOCAL | CREAD | (stop_bits > 1 ? CSTOPB : 0);
    // With O_NONBLOCK, VMIN 1 makes an empty line EAGAIN and a hung-up one end-of-file.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, code) != 0 || cfsetospeed(&t, code) != 0 || tcsetattr(fd, TCSANOW, &t) != 0)
        return false;
    // DTR and RTS low, as the line is driven on Windows; a pty has no modem lines.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    return true;
}

// Gives up exclusive use and closes the device. Output the driver still holds (after a short
// wait when drain is set) is discarded first, so that close() cannot wait on a line that no
// longer drains. A line that drained is not flushed: on a pty that would also discard what
// the other side has not read yet, the final command among it.
void release_device(int fd, bool drain)
{
    gint64 until = g_get_monotonic_time() + CLOSE_DRAIN_US;
    int pending = 0;
    while (drain && ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0 && g_get_monotonic_time() < until)
        g_usleep(2000);
    if (!drain || pending > 0)
        tcflush(fd, TCOFLUSH);
    ioctl(fd, TIOCNXCL);
    close(fd);
}

// Opens, locks and configures the device and discards what is pending; -1 on any failure.
int open_device(const char* path, uint32_t baud, uint8_t stop_bits)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // Nobody else may use the port while we hold it: TIOCEXCL refuses later opens
    // (except root's), the lock refuses any program that asks for it as we do.
    if (!isatty(fd) || is_placeholder_uart(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ioctl(fd, TIOCEXCL) != 0 || !configure_line(fd, baud, stop_bits) || tcflush(fd, TCIOFLUSH) != 0) {
        release_device(fd, false);
        return -1;
    }
    return fd;
}

// The device failed under us, or stopped taking data: let it go (with whatever it had not
// sent); the poll routine tries to get it back.
void lose_port()
{
    release_device(channel_slot.fd, false);
    channel_slot.fd = -1;
    channel_slot.last_reopen_attempt = g_get_monotonic_time();
}

// One attempt at most every 500 ms to open the lost device again with the same settings.
void try_reopen()
{
    gint64 now = g_get_monotonic_time();
    if (now - channel_slot.last_reopen_attempt < REOPEN_INTERVAL_US)
        return;
    channel_slot.last_reopen_attempt = now;
    channel_slot.fd = open_device(channel_slot.path, channel_slot.baud, channel_slot.stop_bits);
}

// Timer routine: hands whatever the port holds to the handler, then touches nothing,
// because the handler may close (and even reopen) the channel during its call.
gboolean poll_routine(gpointer)
{
    if (!channel_slot.open)
        return G_SOURCE_REMOVE;
    if (channel_slot.fd < 0) {
        try_reopen();
        return G_SOURCE_CONTINUE;
    }
    // One call per poll: with VMIN 1 and O_NONBLOCK an empty line is EAGAIN, while a hung-up
    // line (pulled adapter, closed pty; what poll() would report as POLLHUP) reads 0 or EIO.
    ssize_t count = read(channel_slot.fd, channel_slot.receive_buffer, channel_slot.receive_size);
    if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
        lose_port();
        return G_SOURCE_CONTINUE;
    }
    if (count > 0)
        channel_slot.handler(channel_slot.receive_buffer, static_cast<uint16_t>(count > 0xFFFF ? 0xFFFF : count));
    return G_SOURCE_CONTINUE;
}

// Errors after which the device is not coming back on this descriptor.
bool device_gone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == EBADF;
}

// Writes every byte, waiting while the driver's queue is full, but not beyond the write
// limit; false on a failure, and with errno ETIMEDOUT when the line did not take the bytes
// in time (a part of them may have gone).
bool write_all(int fd, const uint8_t* bytes, size_t length)
{
    const gint64 deadline = g_get_monotonic_time() + WRITE_LIMIT_US;
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(fd, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            gint64 left_us = deadline - g_get_monotonic_time();
            if (left_us <= 0) {
                errno = ETIMEDOUT;
                return false;
            }
            pollfd p = {fd, POLLOUT, 0};
            int ready = poll(&p, 1, static_cast<int>((left_us + 999) / 1000));
            if (ready < 0 && errno != EINTR)
                return false;
            if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                errno = EIO;
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

bool channel_open(uint8_t channel, uint8_t port, uint32_t baud, uint8_t stop_bits,
                  uint16_t receive_size, uint16_t transmit_size, ReceiveHandler handler)
{
    if (channel != 0 || channel_slot.open || port == 0 || receive_size == 0 || transmit_size == 0 ||
        handler == nullptr)
        return false;
    char path[PATH_CAPACITY];
    if (!com_device_path(port, path, sizeof path))
        return false;
    int fd = open_device(path, baud, stop_bits);
    if (fd < 0)
        return false;
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(receive_size));
    if (buffer == nullptr) {
        release_device(fd, false);
        return false;
    }
    channel_slot.fd = fd;
    channel_slot.open = true;
    channel_slot.handler = handler;
    channel_slot.receive_buffer = buffer;
    channel_slot.receive_size = receive_size;
    channel_slot.transmit_size = transmit_size;
    g_strlcpy(channel_slot.path, path, sizeof channel_slot.path);
    channel_slot.baud = baud;
    channel_slot.stop_bits = stop_bits;
    // The default main context: every loop on this thread (a message box's included) runs it.
    channel_slot.poll_timer = grid_timer_add(CHANNEL_POLL_MS, poll_routine, nullptr);
    return true;
}

bool channel_write(uint8_t channel, const uint8_t* bytes, uint16_t length)
{
    if (channel != 0 || !channel_slot.open || channel_slot.fd < 0)
        return false;
    if (write_all(channel_slot.fd, bytes, length))
        return true;
    // A line that has stopped draining is handled as a lost port: the frame is gone either
    // way, and the engine's retransmission carries on once the port is back.
    if (device_gone(errno) || errno == ETIMEDOUT)
        lose_port();
    return false;
}

void channel_close(uint8_t channel)
{
    if (channel != 0 || !channel_slot.open)
        return;
    std::free(channel_slot.receive_buffer);
    g_source_remove(channel_slot.poll_timer);
    if (channel_slot.fd >= 0)
        release_device(channel_slot.fd, true);
    channel_slot = ChannelSlot{-1, false, nullptr, nullptr, 0, 0, 0, {}, 0, 0, 0};
}

bool channel_port_present(uint8_t channel)
{
    return channel == 0 && channel_slot.open && channel_slot.fd >= 0;
}
