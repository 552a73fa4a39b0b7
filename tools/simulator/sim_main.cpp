// tq734_sim: plays a TQ734 on a pseudo-terminal until the final command, a timeout or a signal.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "frame_codec.h"
#include "sim_clock.h"
#include "sim_deframer.h"
#include "sim_device.h"
#include "sim_options.h"
#include "sim_output.h"
#include "sim_pty.h"
#include "sim_random.h"
#include "sim_report.h"

static volatile sig_atomic_t stop_signal = 0;

// Remembers the signal; the loop notices it within one poll.
static void on_stop_signal(int signal_number)
{
    stop_signal = signal_number;
}

// SIGTERM, SIGINT and SIGHUP end the run cleanly; no restart, so poll returns at once.
static void install_signal_handlers()
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// Writes the ready line to a file via a temporary, so a reader never sees half of it.
static bool write_ready_file(const std::string& path, const std::string& line)
{
    std::string temporary = path + ".tmp";
    FILE* f = fopen(temporary.c_str(), "w");
    if (!f)
        return false;
    fputs(line.c_str(), f);
    bool ok = fclose(f) == 0;
    return ok && rename(temporary.c_str(), path.c_str()) == 0;
}

// Milliseconds to wait for the next thing to do, at most 100.
static int poll_timeout_ms(int64_t now_us, int64_t deadline_us)
{
    int64_t wait = 100000;
    int64_t due = output_next_due_us();
    if (due >= 0 && due - now_us < wait)
        wait = due - now_us;
    if (deadline_us - now_us < wait)
        wait = deadline_us - now_us;
    if (wait <= 0)
        return 0;
    return int((wait + 999) / 1000);
}

// Reads what the updater wrote and acts on every frame it closes.
static void read_line(int master, int64_t* rx_wire_clock_us)
{
    uint8_t bytes[4096];
    for (;;) {
        ssize_t n = read(master, bytes, sizeof bytes);
        if (n <= 0)
            return;
        int64_t now = sim_now_us();
        for (ssize_t i = 0; i < n; ++i) {
            // The pty delivers at once what a real line would deliver one byte per 86.8 us.
            if (sim_options.wire_time) {
                if (*rx_wire_clock_us < now)
                    *rx_wire_clock_us = now;
                *rx_wire_clock_us += int64_t(WIRE_BYTE_US);
            }
            DeframeResult r = deframe_byte(bytes[i]);
            if (r.kind != DEFRAME_NOTHING)
                device_on_frame(r, now, sim_options.wire_time ? *rx_wire_clock_us : now);
        }
    }
}

// Pulls the line away as a vanishing USB adapter does, then after the configured pause plugs a
// new pty in under the same link. False (with the reason) when it has to stop instead.
static bool unplug_and_replug(SimPty* pty, int64_t timeout_at, std::string* reason)
{
    if (!sim_options.link_path.empty())
        pty_remove_link(*pty, sim_options.link_path);
    pty_close(pty);
    deframer_reset();
    int64_t back_at = sim_now_us() + int64_t(sim_options.unplug_seconds) * 1000000;
    while (sim_now_us() < back_at) {
        if (stop_signal) {
            *reason = std::string("signal ") + std::to_string(int(stop_signal));
            return false;
        }
        if (sim_now_us() >= timeout_at) {
            *reason = "timeout";
            return false;
        }
        usleep(20000);
    }
    if (!pty_open(pty) || (!sim_options.link_path.empty() && !pty_create_link(*pty, sim_options.link_path))) {
        *reason = "cannot plug back";
        return false;
    }
    output_init(pty->master);
    report_event(sim_now_us(), "plugged back on %s", pty->slave_path.c_str());
    return true;
}

// Runs the device until it is time to stop; returns why.
static std::string run(SimPty* pty)
{
    const int64_t timeout_at = int64_t(sim_options.timeout_s) * 1000000;
    int64_t rx_wire_clock = 0;
    bool removed = false;
    for (;;) {
        int64_t now = sim_now_us();
        if (stop_signal)
            return std::string("signal ") + std::to_string(int(stop_signal));
        int64_t final_us = 0;
        if (sim_options.remove_after_final && !removed && device_final_received(&final_us)) {
            // A device with its own USB port, unplugged: its port goes away for good.
            output_flush(now);
            if (!sim_options.link_path.empty())
                pty_remove_link(*pty, sim_options.link_path);
            pty_close(pty);
            removed = true;
            report_event(now, "removed after the final command");
            if (sim_options.exit_on_final)
                return "removed";
        }
        int64_t wake_at = timeout_at;
        if (sim_options.exit_on_final && device_final_received(&final_us)) {
            int64_t leave = final_us + int64_t(sim_options.linger_ms) * 1000;
            if (now >= leave)
                return "final command";
            if (leave < wake_at)
                wake_at = leave;
        }
        if (now >= timeout_at)
            return "timeout";
        // A device that has stopped reading leaves the line to fill up.
        pollfd p = {pty->master, short(device_stopped_reading() ? 0 : POLLIN), 0};
        int ready = poll(&p, 1, poll_timeout_ms(now, wake_at));
        if (ready > 0 && (p.revents & POLLIN)) {
            read_line(pty->master, &rx_wire_clock);
            std::string reason;
            if (device_take_unplug() && !unplug_and_replug(pty, timeout_at, &reason))
                return reason;
        } else if (ready > 0)
            usleep(10000);  // hangup or error with nothing to read: do not spin
        output_flush(sim_now_us());
    }
}

int main(int argc, char** argv)
{
    sim_now_us();
    ParseOutcome parsed = parse_options(argc, argv);
    if (parsed == PARSE_HELP) {
        print_help();
        return 0;
    }
    if (parsed == PARSE_ERROR)
        return 2;
    build_crc_table();
    random_seed(sim_options.seed);
    if (!device_load_expected_image(sim_options.image_path.c_str()))
        return 1;
    if (!report_open(sim_options.report_path.c_str(), sim_options.verbose)) {
        fprintf(stderr, "tq734_sim: cannot write report %s\n", sim_options.report_path.c_str());
        return 1;
    }
    install_signal_handlers();
    SimPty pty;
    if (!pty_open(&pty))
        return 1;
    if (!sim_options.link_path.empty() && !pty_create_link(pty, sim_options.link_path)) {
        pty_close(&pty);
        return 1;
    }
    output_init(pty.master);

    std::string ready = "READY " + pty.slave_path + "\n";
    if (!sim_options.ready_file.empty() && !write_ready_file(sim_options.ready_file, ready)) {
        fprintf(stderr, "tq734_sim: cannot write %s\n", sim_options.ready_file.c_str());
        if (!sim_options.link_path.empty())
            pty_remove_link(pty, sim_options.link_path);
        pty_close(&pty);
        return 1;
    }
    report_event(sim_now_us(), "start on %s", pty.slave_path.c_str());
    // The first stdout line is the ready line: scripts wait for it.
    fputs(ready.c_str(), stdout);
    fflush(stdout);
    if (!sim_options.link_path.empty())
        fprintf(stderr, "tq734_sim: %s -> %s\n", sim_options.link_path.c_str(), pty.slave_path.c_str());

    std::string reason = run(&pty);

    output_flush(sim_now_us());
    report_event(sim_now_us(), "end: %s", reason.c_str());
    device_write_summary();
    report_close();
    if (!sim_options.link_path.empty())
        pty_remove_link(pty, sim_options.link_path);
    // The master closes last: closing it hangs up whoever still has the slave open.
    pty_close(&pty);
    return 0;
}
