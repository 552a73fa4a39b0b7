// Program entry: options, what must exist before any window, the modal dialog, the exit code.
#include <windows.h>
#include <commctrl.h>

#include "command_line.h"
#include "frame_codec.h"
#include "host_win32.h"
#include "main_dialog.h"
#include "script_options.h"
#include "script_run.h"
#include "tq_version.h"
#include "update_engine.h"

// The exit code is whatever the engine holds when the dialog has ended (127 if it never opened).
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    engine_reset();
    update_engine.version_known = 0;
    apply_options(GetCommandLineW(), &update_engine.auto_mode, &update_engine.final_command_flag);
    script_run_start(TQ_VERSION_TEXT);
    if (script_run_refuses_options()) {
        script_run_exit(EXIT_NO_UPDATE);
        return EXIT_NO_UPDATE;
    }

    if (script_options.no_window) {
        // -n: no window at all, as a station's child or a script runs it. Only an automatic
        // update or the wait for a removal can run with nobody to press a button.
        host_windowless = true;
        build_crc_table();
        update_engine.state = Idle;
        if (update_engine.auto_mode || script_options.until_gone)
            run_windowless_host();
        else
            script_run_note("give_up", "no_display");
    } else {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&classes);
        build_crc_table();
        update_engine.state = Idle;
        run_main_dialog(instance);
    }
    script_run_exit(update_engine.exit_code);
    return update_engine.exit_code;
}
