// The program's only window: a modal dialog whose message loop carries every event.
#pragma once

// Runs dialog 101 modally without an owner; returns when it is closed.
// instance is the program's module handle.
void run_main_dialog(void* instance);
