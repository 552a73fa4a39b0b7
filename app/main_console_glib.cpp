// Program entry without a display (Linux): the same automatic update, with the log as its
// only output. The window's program starts this one when it cannot open the display.
#include <glib.h>

#include "command_line.h"
#include "console_host.h"
#include "frame_codec.h"
#include "script_options.h"
#include "script_run.h"
#include "tq_version.h"
#include "update_engine.h"

// Only an automatic update, or the wait for a device's removal, can run without anybody to
// press a button.
int main(int argc, char** argv)
{
    engine_reset();
    update_engine.version_known = 0;
    apply_option_words(argc, argv, &update_engine.auto_mode, &update_engine.final_command_flag);
    script_run_start(TQ_VERSION_TEXT);
    if (!update_engine.auto_mode && !script_options.until_gone) {
        g_printerr("tq734-updater: cannot open the display\n");
        script_run_note("give_up", "no_display");
        script_run_exit(EXIT_NO_UPDATE);
        return EXIT_NO_UPDATE;
    }
    if (script_run_refuses_options()) {
        script_run_exit(EXIT_NO_UPDATE);
        return EXIT_NO_UPDATE;
    }
    build_crc_table();
    update_engine.state = Idle;
    run_console_host();
    script_run_exit(update_engine.exit_code);
    return update_engine.exit_code;
}
