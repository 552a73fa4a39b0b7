// What the update engine needs from the window; the main dialog implements it,
// tests provide fakes at link time.
#pragma once
#include <cstdint>

enum class MessageKind : uint8_t { Error, Information };

// A null text clears the line; a line is rewritten only when the tag differs.
void set_status(const wchar_t* text, uint8_t tag);
void set_info(const wchar_t* text, uint8_t tag);
void set_block_progress(int position);   // 0..1231
void set_activity(int position);         // 0..15
void enter_transfer_view();
// Modal; caption null means the system's default caption.
void show_message(const wchar_t* text, const wchar_t* caption, MessageKind kind);
void start_reply_timer(unsigned milliseconds);
void stop_reply_timer();
void end_dialog();
