// The serial channel on Win32: a COM port polled by a thread timer on the UI thread.
#include "serial_channel.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

struct ChannelSlot {
    HANDLE handle;  // INVALID_HANDLE_VALUE while closed
    ReceiveHandler handler;
    uint8_t* receive_buffer;
    UINT_PTR poll_timer;
    uint16_t receive_size;
    uint16_t transmit_size;
};

static ChannelSlot channel_slot = {INVALID_HANDLE_VALUE, nullptr, nullptr, 0, 0, 0};

// True while channel 0 holds a port.
static bool slot_open()
{
    return channel_slot.handle != INVALID_HANDLE_VALUE;
}

// Forgets everything the slot held; the caller has already released it.
static void mark_slot_closed()
{
    channel_slot.handle = INVALID_HANDLE_VALUE;
    channel_slot.handler = nullptr;
    channel_slot.receive_buffer = nullptr;
    channel_slot.poll_timer = 0;
    channel_slot.receive_size = 0;
    channel_slot.transmit_size = 0;
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

// Timer routine: hands whatever the port holds to the handler, then touches nothing,
// because the handler may close (and even reopen) the channel during its call.
static void CALLBACK poll_routine(HWND, UINT message, UINT_PTR timer, DWORD)
{
    if (message != WM_TIMER || timer != channel_slot.poll_timer || !slot_open())
        return;
    DWORD errors = 0;
    COMSTAT status;
    ClearCommError(channel_slot.handle, &errors, &status);
    DWORD count = 0;
    if (!ReadFile(channel_slot.handle, channel_slot.receive_buffer, channel_slot.receive_size, &count,
                  nullptr))
        return;
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

    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;

    if (!configure_line(handle, baud, stop_bits) ||
        !PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        CloseHandle(handle);
        return false;
    }
    SetupComm(handle, receive_size, transmit_size);
    // A read returns at once with whatever has arrived; writes have no time limit.
    COMMTIMEOUTS timeouts = {1, 0, 1, 0, 0};
    SetCommTimeouts(handle, &timeouts);

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
    // A thread timer: any message loop on this thread (a message box's included) runs it.
    channel_slot.poll_timer = SetTimer(nullptr, 0, CHANNEL_POLL_MS, poll_routine);
    return true;
}

bool channel_write(uint8_t channel, const uint8_t* bytes, uint16_t length)
{
    if (channel != 0 || !slot_open())
        return false;
    DWORD written = 0;
    return WriteFile(channel_slot.handle, bytes, length, &written, nullptr) != 0;
}

void channel_close(uint8_t channel)
{
    if (channel != 0 || !slot_open())
        return;
    std::free(channel_slot.receive_buffer);
    KillTimer(nullptr, channel_slot.poll_timer);
    CloseHandle(channel_slot.handle);
    mark_slot_closed();
}
