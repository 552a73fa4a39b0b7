// Program entry on Linux: options, what must exist before any window, the modal dialog, the exit code.
#include <gtk/gtk.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "command_line.h"
#include "frame_codec.h"
#include "main_dialog.h"
#include "script_options.h"
#include "script_run.h"
#include "tq_version.h"
#include "update_engine.h"

namespace {

const char CONSOLE_PROGRAM[] = "tq734-updater-console";

// Without a display an automatic update runs all the same, in the program that has no window:
// beside this one in a build tree, in libexec when installed. Returns only if neither starts.
void run_without_display(char** arguments)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return;
    self[n] = 0;
    char* slash = std::strrchr(self, '/');
    if (!slash)
        return;
    *slash = 0;
    char path[PATH_MAX + 64];
    g_snprintf(path, sizeof path, "%s/%s", self, CONSOLE_PROGRAM);
    execv(path, arguments);
    g_snprintf(path, sizeof path, "%s/../libexec/tq734-updater/%s", self, CONSOLE_PROGRAM);
    execv(path, arguments);
}

}  // namespace

// The exit code is whatever the engine holds when the dialog has ended (127 if it never opened).
int main(int argc, char** argv)
{
    engine_reset();
    update_engine.version_known = 0;
    // Read before GTK takes its own options out of the list: every word counts, as on Windows.
    apply_option_words(argc, argv, &update_engine.auto_mode, &update_engine.final_command_flag);
    char** original = g_new0(char*, argc + 1);
    for (int i = 0; i < argc; ++i)
        original[i] = argv[i];
    // X first (on a Wayland desktop through XWayland): the backend the window is tested on.
    gdk_set_allowed_backends("x11,*");
    // -n: no window even with a display, as a station's child runs.
    if (script_options.no_window)
        run_without_display(original);
    bool display = !script_options.no_window && gtk_init_check(&argc, &argv);
    if (!display && (update_engine.auto_mode || script_options.until_gone))
        run_without_display(original);
    g_free(original);
    script_run_start(TQ_VERSION_TEXT);
    if (script_run_refuses_options()) {
        script_run_exit(EXIT_NO_UPDATE);
        return EXIT_NO_UPDATE;
    }
    build_crc_table();
    update_engine.state = Idle;
    if (display) {
        run_main_dialog(nullptr);
    } else {
        g_printerr("tq734-updater: cannot open the display\n");
        script_run_note("give_up", "no_display");
    }
    script_run_exit(update_engine.exit_code);
    return update_engine.exit_code;
}
