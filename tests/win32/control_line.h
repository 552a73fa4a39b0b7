// The Windows side of tq_pty's control line, and a message pump for timer-driven code.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The ports tq_pty prepares for the channel tests (see CMakeLists.txt).
constexpr uint8_t DATA_PORT = 12;
constexpr uint8_t CONTROL_PORT = 13;
constexpr uint8_t REFUSING_PORT = 14;
constexpr uint8_t ABSENT_PORT = 15;

// Opens COM<CONTROL_PORT>; false when the test does not run under tq_pty.
bool control_open();
// Sends one request line and returns the reply line ("" when none comes within 5 s).
std::string control_ask(const std::string& request);
// Bytes the Linux side has to send on the data line.
bool control_send(const std::vector<uint8_t>& bytes);
// Everything the data line has sent, once it has been quiet for quiet_ms.
std::vector<uint8_t> control_take(unsigned quiet_ms);
void control_close();

// Runs this thread's message loop (timers included) for about ms milliseconds.
void pump_messages(unsigned ms);
// Runs the message loop until done() or ms milliseconds have passed; true if done() came true.
bool pump_until(bool (*done)(), unsigned ms);
