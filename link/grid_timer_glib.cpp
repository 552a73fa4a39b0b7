// Grid timers as GLib sources that compute their own poll timeout. A source that re-arms
// itself with g_source_set_ready_time wakes the main loop once more after every expiry; these
// do not.
#include "grid_timer.h"

namespace {

struct GridTimer {
    GSource source;
    gint64 period_us;
    gint64 due_us;
};

GridTimer* grid_timer(GSource* source)
{
    return reinterpret_cast<GridTimer*>(source);
}

// The first grid point after now.
gint64 next_grid_point(gint64 now_us, gint64 period_us)
{
    return (now_us / period_us + 1) * period_us;
}

// Ready when due; otherwise the loop may sleep until then (rounded up to whole milliseconds,
// so that it never wakes just before the expiry).
gboolean prepare_grid_timer(GSource* source, gint* timeout_ms)
{
    GridTimer* timer = grid_timer(source);
    gint64 left_us = timer->due_us - g_source_get_time(source);
    if (left_us <= 0) {
        *timeout_ms = 0;
        return TRUE;
    }
    *timeout_ms = static_cast<gint>((left_us + 999) / 1000);
    return FALSE;
}

gboolean check_grid_timer(GSource* source)
{
    return g_source_get_time(source) >= grid_timer(source)->due_us;
}

// Next expiry one period on; a timer that fell more than a period behind (the machine was
// suspended, the loop was blocked) skips to the next grid point instead of firing in a burst.
gboolean dispatch_grid_timer(GSource* source, GSourceFunc callback, gpointer data)
{
    GridTimer* timer = grid_timer(source);
    gint64 now_us = g_source_get_time(source);
    timer->due_us += timer->period_us;
    if (timer->due_us <= now_us)
        timer->due_us = next_grid_point(now_us, timer->period_us);
    return callback ? callback(data) : G_SOURCE_REMOVE;
}

GSourceFuncs GRID_TIMER_FUNCS = {prepare_grid_timer, check_grid_timer, dispatch_grid_timer, nullptr, nullptr,
                                 nullptr};

}  // namespace

guint grid_timer_add(unsigned period_ms, GSourceFunc routine, gpointer data)
{
    GSource* source = g_source_new(&GRID_TIMER_FUNCS, sizeof(GridTimer));
    GridTimer* timer = grid_timer(source);
    timer->period_us = static_cast<gint64>(period_ms ? period_ms : 1) * 1000;
    timer->due_us = next_grid_point(g_get_monotonic_time(), timer->period_us);
    g_source_set_callback(source, routine, data, nullptr);
    g_source_set_can_recurse(source, TRUE);
    guint id = g_source_attach(source, nullptr);
    g_source_unref(source);
    return id;
}
