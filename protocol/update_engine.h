// The state machine that polls the device, transfers the image, finishes the
// update, retransmits on silence and decides the exit code.
#pragma once
#include <cstdint>

enum EngineState : int8_t {
    Idle = 0,
    Polling = 1,
    Transferring = 3,
    Finishing = 4,
    AutoStartPending = 5,
    Closing = -1,   // 255 as an unsigned byte
};

constexpr unsigned VERSION_TEXT_CAPACITY = 64;

// Exit codes of the process besides the device's own result codes (1..255).
constexpr uint8_t EXIT_UPDATED = 0;
constexpr uint8_t EXIT_WRONG_DEVICE = 126;
constexpr uint8_t EXIT_NO_UPDATE = 127;

struct UpdateEngine {
    EngineState state;
    uint32_t block_counter;
    int8_t activity_counter;
    uint8_t version_known;
    wchar_t version_text[VERSION_TEXT_CAPACITY];
    uint8_t exit_code;
    uint8_t auto_mode;
    uint8_t final_command_flag;
};
extern UpdateEngine update_engine;

// Puts every engine variable back to its initial value.
void engine_reset();
// The "Опросить" command.
void poll_device();
// The "СТАРТ" command and the automatic start.
void start_update();
// Receive handler registered with the serial channel.
void on_receive(const uint8_t* bytes, uint16_t count);
// Each expiry of the reply timer.
void on_reply_timer();
// Every 100 ms from the dialog's tick timer.
void on_tick();

// Text shown in the message box for a device result code other than 0.
const wchar_t* result_code_text(uint8_t code);
