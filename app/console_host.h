// The engine's host without a window: the same port choice, timers and outcome on the GLib
// main loop, the log being all that is shown.
#pragma once

// Runs until the engine ends the run (or gives up).
void run_console_host();
