// The serial channel on Win32: a COM port polled by a thread timer on the UI thread.
#include "serial_channel.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

struct ChannelSlot {
    HANDLE handle;  // INVALID_HANDLE_VALUE while closed or while the port is lost
    ReceiveHandler handler;  // null while closed
    uint8_t* receive_buffer;
    UINT_PTR poll_timer;
    uint16_t receive_size;
    uint16_t transmit_size;
    // What a lost port is reopened with: the same as channel_open was given.
    uint8_t port;
    uint32_t baud;
    uint8_t stop_bits;
    unsigned polls_until_reopen;  // while lost: polls left before the next attempt
};

static ChannelSlot channel_slot = {INVALID_HANDLE_VALUE, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0};

// A pulled USB adapter comes back under the same name; trying about twice a second costs nothing.
constexpr unsigned REOPEN_EVERY_POLLS = 500 / CHANNEL_POLL_MS;
// A frame takes at most 46 ms on the wire: one still unfinished after a second never will be,
// and the one thread must not wait for it.
constexpr DWORD WRITE_LIMIT_MS = 1000;

// True while channel 0 is open, whether or not its port is there right now.
static bool slot_open()
{
    return channel_slot.handler != nullptr;
}

// True while the open channel holds a working port handle.
static bool port_present()
{
    return channel_slot.handle != INVALID_HANDLE_VALUE;
}

// Forgets everything the slot held; the caller has already released it.
static void mark_slot_closed()
{
    channel_slot = {INVALID_HANDLE_VALUE, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0};
}

// 8 data bits, no parity, no flow control of any kind, binary; other fields as read.
static bool configure_line(HANDLE port, uint32_t baud, uint8_t stop_bits)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = stop_bits > 1 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(port, &dcb) != 0;
}

// Opens COM<port> without sharing and sets line, queues and timeouts; INVALID_HANDLE_VALUE
// when it cannot be opened or configured.
static HANDLE open_configured_port(uint8_t port, uint32_t baud, uint8_t stop_bits,
                                   uint16_t receive_size, uint16_t transmit_size)
{
    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    if (!configure_line(handle, baud, stop_bits) ||
        !PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    SetupComm(handle, receive_size, transmit_size);
    // A read returns at once with whatever has arrived; a write gives up after the limit.
    COMMTIMEOUTS timeouts = {1, 0, 1, 0, WRITE_LIMIT_MS};
    SetCommTimeouts(handle, &timeouts);
    return handle;
}

// A call on the handle failed: the device behind it is gone (a pulled USB adapter) or stopped
// taking data. The handle is closed, with whatever it had not sent, so that the port can come
// back; the poll routine then tries to reopen it.
static void lose_port()
{
    PurgeComm(channel_slot.handle, PURGE_TXABORT | PURGE_TXCLEAR);
    CloseHandle(channel_slot.handle);
    channel_slot.handle = INVALID_HANDLE_VALUE;
    channel_slot.polls_until_reopen = REOPEN_EVERY_POLLS;
}

// While the port is lost: every REOPEN_EVERY_POLLS polls, one attempt to open it again.
static void try_reopen()
{
    if (--channel_slot.polls_until_reopen > 0)
        return;
    channel_slot.polls_until_reopen = REOPEN_EVERY_POLLS;
    channel_slot.handle = open_configured_port(channel_slot.port, channel_slot.baud, channel_slot.stop_bits,
                                               channel_slot.receive_size, channel_slot.transmit_size);
}

// Timer routine: hands whatever the port holds to the handler, then touches nothing,
// because the handler may close (and even reopen) the channel during its call.
static void CALLBACK poll_routine(HWND, UINT message, UINT_PTR timer, DWORD)
{
    if (message != WM_TIMER || timer != channel_slot.poll_timer || !slot_open())
        return;
    if (!port_present()) {
        try_reopen();
        return;
    }
    // Line errors are absorbed; a failing call means the port itself is gone. On a dead port
    // the read would still succeed, slowly and with nothing, so the status call decides.
    DWORD errors = 0;
    COMSTAT status;
    DWORD count = 0;
    if (!ClearCommError(channel_slot.handle, &errors, &status) ||
        !ReadFile(channel_slot.handle, channel_slot.receive_buffer, channel_slot.receive_size, &count,
                  nullptr)) {
        lose_port();
        return;
    }
    if (count > 0xFFFF)
        count = 0xFFFF;
    if (count > 0)
        channel_slot.handler(channel_slot.receive_buffer, static_cast<uint16_t>(count));
}

bool channel_open(uint8_t channel, uint8_t port, uint32_t baud, uint8_t stop_bits,
                  uint16_t receive_size, uint16_t transmit_size, ReceiveHandler handler)
{
    if (channel != 0 || slot_open() || port == 0 || receive_size == 0 || transmit_size == 0 ||
        handler == nullptr)
        return false;

    HANDLE handle = open_configured_port(port, baud, stop_bits, receive_size, transmit_size);
    if (handle == INVALID_HANDLE_VALUE)
        return false;

    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(receive_size));
    if (buffer == nullptr) {
        CloseHandle(handle);
        return false;
    }
    channel_slot.handle = handle;
    channel_slot.handler = handler;
    channel_slot.receive_buffer = buffer;
    channel_slot.receive_size = receive_size;
    channel_slot.transmit_size = transmit_size;
    channel_slot.port = port;
    channel_slot.baud = baud;
    channel_slot.stop_bits = stop_bits;
    // A thread timer: any message loop on this thread (a message box's included) runs it.
    channel_slot.poll_timer = SetTimer(nullptr, 0, CHANNEL_POLL_MS, poll_routine);
    return true;
}

bool channel_write(uint8_t channel, const uint8_t* bytes, uint16_t length)
{
    if (channel != 0 || !slot_open() || !port_present())
        return false;
    // A write that times out succeeds with fewer bytes: the line has stopped draining, which
    // is handled as a lost port; the engine's retransmission carries on once it is back.
    DWORD written = 0;
    if (WriteFile(channel_slot.handle, bytes, length, &written, nullptr) && written == length)
        return true;
    lose_port();
    return false;
}

void channel_close(uint8_t channel)
{
    if (channel != 0 || !slot_open())
        return;
    std::free(channel_slot.receive_buffer);
    KillTimer(nullptr, channel_slot.poll_timer);
    if (port_present())
        CloseHandle(channel_slot.handle);
    mark_slot_closed();
}

bool channel_port_present(uint8_t channel)
{
    return channel == 0 && slot_open() && port_present();
}
