// The updater children on Linux, on GLib's main loop: each started with its output on a
// pipe, read as it comes, and its end (exit code or signal) taken from a child watch.
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "station_run.h"

namespace {

struct Child {
    GPid pid;
    int out;               // the read end of its output pipe, -1 when closed
    guint out_watch, exit_watch, kill_timer, later_timer;
    ChildKind later_kind;
};
Child children[STATION_MAX_PORTS];

// A child must not outlive the station, not even one killed outright.
void in_child(gpointer)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
}

void remove_source(guint& id)
{
    if (id)
        g_source_remove(id);
    id = 0;
}

// Everything the pipe holds now; false once it is at its end.
bool drain(unsigned slot)
{
    Child& c = children[slot];
    char bytes[4096];
    for (;;) {
        ssize_t n = read(c.out, bytes, sizeof bytes);
        if (n > 0) {
            station_child_output(slot, bytes, static_cast<unsigned>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
}

void close_output(unsigned slot)
{
    Child& c = children[slot];
    remove_source(c.out_watch);
    if (c.out >= 0)
        close(c.out);
    c.out = -1;
}

gboolean on_output(gint, GIOCondition, gpointer data)
{
    unsigned slot = GPOINTER_TO_UINT(data);
    if (drain(slot))
        return G_SOURCE_CONTINUE;
    children[slot].out_watch = 0;
    close_output(slot);
    return G_SOURCE_REMOVE;
}

// The child has ended: the rest of its output first, then its end.
void on_exit(GPid pid, gint status, gpointer data)
{
    unsigned slot = GPOINTER_TO_UINT(data);
    Child& c = children[slot];
    c.exit_watch = 0;
    remove_source(c.kill_timer);
    if (c.out >= 0)
        drain(slot);
    close_output(slot);
    g_spawn_close_pid(pid);
    c.pid = 0;
    if (WIFSIGNALED(status))
        station_child_ended(slot, ChildEnd::Signalled, static_cast<uint32_t>(WTERMSIG(status)));
    else
        station_child_ended(slot, ChildEnd::Exited, static_cast<uint32_t>(WEXITSTATUS(status)));
}

gboolean on_kill_timer(gpointer data)
{
    Child& c = children[GPOINTER_TO_UINT(data)];
    c.kill_timer = 0;
    if (c.pid > 0)
        kill(c.pid, SIGKILL);
    return G_SOURCE_REMOVE;
}

gboolean on_later(gpointer data)
{
    unsigned slot = GPOINTER_TO_UINT(data);
    children[slot].later_timer = 0;
    station_start_child(slot, children[slot].later_kind);
    return G_SOURCE_REMOVE;
}

}  // namespace

bool platform_child_start(unsigned slot, const ChildArguments& arguments)
{
    const char* const* words = arguments.words;
    Child& c = children[slot];
    c.out = -1;
    GPid pid = 0;
    gint out = -1;
    GError* error = nullptr;
    if (!g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(words), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, in_child,
                                  nullptr, &pid, nullptr, &out, nullptr, &error)) {
        g_printerr("tq734-station: %s: %s\n", words[0], error->message);
        g_error_free(error);
        return false;
    }
    fcntl(out, F_SETFL, fcntl(out, F_GETFL) | O_NONBLOCK);
    fcntl(out, F_SETFD, FD_CLOEXEC);
    c.pid = pid;
    c.out = out;
    c.out_watch = g_unix_fd_add(out, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), on_output,
                                GUINT_TO_POINTER(slot));
    c.exit_watch = g_child_watch_add(pid, on_exit, GUINT_TO_POINTER(slot));
    return true;
}

void platform_child_start_later(unsigned slot, ChildKind kind, unsigned delay_ms)
{
    Child& c = children[slot];
    remove_source(c.later_timer);
    c.later_kind = kind;
    c.later_timer = g_timeout_add(delay_ms, on_later, GUINT_TO_POINTER(slot));
}

// Asked to end first; killed a second later if it has not.
void platform_child_stop(unsigned slot)
{
    Child& c = children[slot];
    remove_source(c.later_timer);
    if (c.pid <= 0)
        return;
    kill(c.pid, SIGTERM);
    if (!c.kill_timer)
        c.kill_timer = g_timeout_add(1000, on_kill_timer, GUINT_TO_POINTER(slot));
}
