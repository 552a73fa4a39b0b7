// Program entry on Linux: options, what must exist before any window, the modal dialog, the exit code.
#include <gtk/gtk.h>

#include "command_line.h"
#include "frame_codec.h"
#include "main_dialog.h"
#include "update_engine.h"

// The exit code is whatever the engine holds when the dialog has ended (127 if it never opened).
int main(int argc, char** argv)
{
    engine_reset();
    update_engine.version_known = 0;
    // Read before GTK takes its own options out of the list: every word counts, as on Windows.
    apply_option_words(argc, argv, &update_engine.auto_mode, &update_engine.final_command_flag);
    // X first (on a Wayland desktop through XWayland): the backend the window is tested on.
    gdk_set_allowed_backends("x11,*");
    bool display = gtk_init_check(&argc, &argv);
    build_crc_table();
    update_engine.state = Idle;
    if (display)
        run_main_dialog(nullptr);
    else
        g_printerr("tq734-updater: cannot open the display\n");
    return update_engine.exit_code;
}
