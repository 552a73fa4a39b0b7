// The window's tick and the channel's poll as grid timers: a fixed rate, expiries on the grid,
// timers of related periods in one wakeup, and no extra wakeup per expiry.
#include <gtest/gtest.h>

#include <glib.h>

#include <vector>

#include "grid_timer.h"

namespace {

constexpr gint64 MS = 1000;

std::vector<gint64> fast_times, slow_times;  // the loop's time at each expiry
unsigned iterations;
unsigned stall_at;  // the fast timer's expiry that blocks the loop, 0 for none

gboolean on_fast(gpointer)
{
    fast_times.push_back(g_source_get_time(g_main_current_source()));
    if (stall_at != 0 && fast_times.size() == stall_at)
        g_usleep(180 * MS);
    return G_SOURCE_CONTINUE;
}

gboolean on_slow(gpointer)
{
    slow_times.push_back(g_source_get_time(g_main_current_source()));
    return G_SOURCE_CONTINUE;
}

// Counts the loop's iterations: every iteration prepares every source.
gboolean count_iteration(GSource*, gint* timeout)
{
    ++iterations;
    *timeout = -1;
    return FALSE;
}

GSourceFuncs COUNTER_FUNCS = {count_iteration, nullptr, nullptr, nullptr, nullptr, nullptr};

gboolean quit(gpointer loop)
{
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

// Runs a 50 ms and a 100 ms grid timer for about a second.
void run_for_a_second()
{
    fast_times.clear();
    slow_times.clear();
    iterations = 0;
    guint fast = grid_timer_add(50, on_fast, nullptr);
    guint slow = grid_timer_add(100, on_slow, nullptr);
    GSource* counter = g_source_new(&COUNTER_FUNCS, sizeof(GSource));
    g_source_attach(counter, nullptr);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_timeout_add(1010, quit, loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    g_source_destroy(counter);
    g_source_unref(counter);
    g_source_remove(fast);
    g_source_remove(slow);
}

TEST(GridTimer, KeepsItsRateOnTheGridAndWakesTheLoopOncePerExpiry)
{
    stall_at = 0;
    run_for_a_second();
    // A timer re-armed from its own call would drift to fewer expiries.
    EXPECT_GE(fast_times.size(), 18u);
    EXPECT_LE(fast_times.size(), 21u);
    for (gint64 t : fast_times)
        EXPECT_LT(t % (50 * MS), 30 * MS) << "expiry off the grid";
    // Each tick of the slower timer comes in the same iteration as an expiry of the faster.
    ASSERT_GE(slow_times.size(), 9u);
    for (gint64 t : slow_times) {
        bool together = false;
        for (gint64 f : fast_times)
            together = together || f == t;
        EXPECT_TRUE(together) << "the slow timer woke the loop on its own at " << t;
    }
    // One wakeup per expiry, plus a few for the quit timer and the loop's start.
    EXPECT_LE(iterations, fast_times.size() + 5);
}

TEST(GridTimer, ALoopBlockedForSeveralPeriodsDoesNotCatchUpInABurst)
{
    stall_at = 5;
    run_for_a_second();
    // 180 ms blocked: one late expiry when the loop comes back, then the grid again. Catching
    // up would fire the three missed ones back to back.
    ASSERT_GE(fast_times.size(), 8u);
    unsigned close_pairs = 0;
    for (size_t i = 1; i < fast_times.size(); ++i)
        close_pairs += fast_times[i] - fast_times[i - 1] < 25 * MS;
    EXPECT_LE(close_pairs, 1u);
    for (size_t i = stall_at + 1; i < fast_times.size(); ++i)
        EXPECT_LT(fast_times[i] % (50 * MS), 30 * MS) << "expiry off the grid after the stall";
}

}  // namespace
