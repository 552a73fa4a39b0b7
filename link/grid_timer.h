// Periodic timers on one grid of the monotonic clock. Each expiry is due a whole number of
// periods after the grid's origin, not one period after the last call ran, so a timer keeps its
// rate as a Windows timer does; and timers whose periods are multiples of one another expire
// in the same main-loop wakeup instead of each waking the program on its own.
#pragma once
#include <glib.h>

// Adds a timer to the thread's default main context, due first at the next multiple of
// period_ms. It may fire again while its own call runs a nested loop (a message box's).
// Returns the source id for g_source_remove; the routine returns G_SOURCE_CONTINUE to go on.
guint grid_timer_add(unsigned period_ms, GSourceFunc routine, gpointer data);
