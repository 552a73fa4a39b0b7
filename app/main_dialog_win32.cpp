#include "main_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include "banner.h"
#include "engine_host.h"
#include "host_win32.h"
#include "line_text.h"
#include "port_selection.h"
#include "resource_ids.h"
#include "script_run.h"
#include "update_engine.h"

namespace {

HINSTANCE app_instance;
HWND dialog;
HWND start_button, poll_button, status_line, info_line, banner, block_bar, activity_bar, port_list;
HFONT status_font;   // -13: "СТАРТ" and the status line
HFONT info_font;     // -16: the info line

const wchar_t CAPTION[] = L"Обновитель TQ734 (CPU2)";

// The dialog font's height at 96 dpi (Arial 8 pt): the reference for the line fonts.
constexpr int DIALOG_FONT_HEIGHT_96DPI = -11;
constexpr int DIALOG_FONT_POINTS = 8;

// Shows or hides one control.
void show_control(HWND control, bool visible)
{
    ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
}

// Bold Arial, Cyrillic, at a height given for 96 dpi, scaled like the dialog font of the given height.
HFONT create_line_font(int height_96dpi, int dialog_font_height)
{
    int height = height_96dpi;
    if (dialog_font_height < DIALOG_FONT_HEIGHT_96DPI)
        height = MulDiv(height_96dpi, dialog_font_height, DIALOG_FONT_HEIGHT_96DPI);
    return CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Arial");
}

// The height of the font the dialog got from its template (0 when it cannot be read).
int current_dialog_font_height()
{
    LOGFONTW dialog_font;
    HFONT current = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    if (current && GetObjectW(current, sizeof dialog_font, &dialog_font) == sizeof dialog_font)
        return dialog_font.lfHeight;
    return 0;
}

// Makes both line fonts for a dialog font of the given height, sets them, and frees the old ones.
void set_line_fonts(int dialog_font_height, BOOL redraw)
{
    HFONT old_status = status_font, old_info = info_font;
    status_font = create_line_font(-13, dialog_font_height);
    info_font = create_line_font(-16, dialog_font_height);
    SendMessageW(start_button, WM_SETFONT, reinterpret_cast<WPARAM>(status_font), redraw);
    SendMessageW(status_line, WM_SETFONT, reinterpret_cast<WPARAM>(status_font), redraw);
    SendMessageW(info_line, WM_SETFONT, reinterpret_cast<WPARAM>(info_font), redraw);
    if (old_status)
        DeleteObject(old_status);
    if (old_info)
        DeleteObject(old_info);
}

// Stops both timers, frees the fonts once and ends the modal loop; the port ends with the process.
void close_dialog()
{
    KillTimer(dialog, TIMER_REPLY);
    KillTimer(dialog, TIMER_TICK);
    if (status_font)
        DeleteObject(status_font);
    if (info_font)
        DeleteObject(info_font);
    status_font = nullptr;
    info_font = nullptr;
    EndDialog(dialog, 0);
}

// WM_INITDIALOG: icon, controls, fonts, bars, texts, the port, the automatic start, the tick.
INT_PTR on_init_dialog(HWND window)
{
    dialog = window;
    HANDLE icon = LoadImageW(app_instance, MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON, 0, 0, LR_SHARED);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

    start_button = GetDlgItem(dialog, IDC_START);
    poll_button = GetDlgItem(dialog, IDC_POLL);
    status_line = GetDlgItem(dialog, IDC_STATUS_LINE);
    info_line = GetDlgItem(dialog, IDC_INFO_LINE);
    banner = GetDlgItem(dialog, IDC_BANNER);
    block_bar = GetDlgItem(dialog, IDC_BLOCK_PROGRESS);
    activity_bar = GetDlgItem(dialog, IDC_ACTIVITY);
    port_list = GetDlgItem(dialog, IDC_PORT_LIST);

    set_line_fonts(current_dialog_font_height(), FALSE);

    show_control(block_bar, false);
    SendMessageW(block_bar, PBM_SETRANGE32, 0, 1231);
    show_control(activity_bar, false);
    SendMessageW(activity_bar, PBM_SETRANGE32, 0, 15);

    SetWindowTextW(dialog, CAPTION);
    SetWindowTextW(banner, BANNER_TEXT);

    select_initial_port();
    script_run_after_initial_port(true);
    SetTimer(dialog, TIMER_TICK, 100, nullptr);
    return TRUE;
}

// WM_COMMAND: the three buttons whatever their notification, the port list on a selection change
// and on being opened (the ports are scanned again then).
INT_PTR on_command(WPARAM wparam)
{
    switch (LOWORD(wparam)) {
    case IDC_POLL:
        poll_device();
        return TRUE;
    case IDC_START:
        start_update();
        return TRUE;
    case IDC_EXIT:
        close_dialog();
        return TRUE;
    case IDC_PORT_LIST:
        if (HIWORD(wparam) == CBN_SELCHANGE)
            on_port_list_changed();
        else if (HIWORD(wparam) == CBN_DROPDOWN)
            rescan_ports();
        return TRUE;
    default:
        return FALSE;   // 1 and 2 (Enter, Escape) included: Escape does not close the window
    }
}

// WM_TIMER: the reply timer to the engine's retransmission, the tick to its start and end.
INT_PTR on_timer(WPARAM timer)
{
    if (timer == TIMER_REPLY) {
        on_reply_timer();
    } else {
        script_run_tick();
        on_tick();
    }
    return TRUE;
}

// WM_CLOSE: the window's close command ends the program like "Выход".
INT_PTR on_close()
{
    close_dialog();
    return TRUE;
}

// WM_CTLCOLORSTATIC: the status and info lines in their system colours; others as usual.
INT_PTR on_ctl_color_static(HDC dc, HWND control)
{
    if (control == status_line) {
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    if (control == info_line) {
        SetTextColor(dc, GetSysColor(COLOR_INFOBK));
        SetBkColor(dc, GetSysColor(COLOR_GRAYTEXT));
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_GRAYTEXT));
    }
    return FALSE;
}

// WM_DPICHANGED: the window moved to a monitor of another DPI. The system rescales the dialog
// font and the layout, not our own fonts: make them again for the new DPI, as at start-up,
// and take the suggested rectangle. Not reported as handled, so the default rescaling runs too.
INT_PTR on_dpi_changed(WPARAM wparam, const RECT* suggested)
{
    int dpi = LOWORD(wparam);
    if (dpi > 0)
        set_line_fonts(-MulDiv(DIALOG_FONT_POINTS, dpi, 72), TRUE);
    if (suggested)
        SetWindowPos(dialog, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return FALSE;
}

// The dialog procedure: one handler per message, everything else to the default handling.
INT_PTR CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        return on_init_dialog(window);
    case WM_COMMAND:
        return on_command(wparam);
    case WM_TIMER:
        return on_timer(wparam);
    case WM_CLOSE:
        return on_close();
    case WM_CTLCOLORSTATIC:
        return on_ctl_color_static(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_DPICHANGED:
        return on_dpi_changed(wparam, reinterpret_cast<const RECT*>(lparam));
    default:
        return FALSE;
    }
}

}  // namespace

// Modal, without an owner; if the dialog cannot be created the call returns at once.
void run_main_dialog(void* instance)
{
    app_instance = static_cast<HINSTANCE>(instance);
    DialogBoxParamW(app_instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, dialog_proc, 0);
}

// The status or info line's control.
void dialog_write_line_control(TextLine line, const wchar_t* text)
{
    SetWindowTextW(line == StatusLine ? status_line : info_line, text);
}

// Block progress bar position, 0..1231.
void dialog_set_block_progress(int position)
{
    SendMessageW(block_bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// Activity bar position, 0..15.
void dialog_set_activity(int position)
{
    SendMessageW(activity_bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// The transfer's view: list locked, buttons away, bars in their place.
void dialog_enter_transfer_view()
{
    EnableWindow(port_list, FALSE);
    show_control(poll_button, false);
    show_control(start_button, false);
    show_control(block_bar, true);
    show_control(activity_bar, true);
}

// Modal message box owned by the dialog; timers keep running in its loop.
void dialog_show_message(const wchar_t* text, const wchar_t* caption, MessageKind kind)
{
    UINT icon = kind == MessageKind::Error ? MB_ICONERROR : MB_ICONINFORMATION;
    script_run_message(text, caption, kind);
    MessageBoxW(dialog, text, caption, MB_OK | MB_SETFOREGROUND | icon);
}

// (Re)arms dialog timer 2.
void dialog_start_reply_timer(unsigned milliseconds)
{
    SetTimer(dialog, TIMER_REPLY, milliseconds, nullptr);
}

// Stops dialog timer 2.
void dialog_stop_reply_timer()
{
    KillTimer(dialog, TIMER_REPLY);
}

// The engine's end of the program: the close procedure.
void dialog_end_dialog()
{
    close_dialog();
}

// Empties the port list.
void dialog_port_list_clear()
{
    SendMessageW(port_list, CB_RESETCONTENT, 0, 0);
}

// Appends one item; the list is not sorted.
void dialog_port_list_add(const wchar_t* text)
{
    SendMessageW(port_list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

// The list's own case-insensitive prefix search from the top; no match keeps the selection.
void dialog_port_list_select_prefix(const wchar_t* text)
{
    SendMessageW(port_list, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
}

// Selects the first item.
void dialog_port_list_select_first()
{
    SendMessageW(port_list, CB_SETCURSEL, 0, 0);
}

// Leaves no item selected.
void dialog_port_list_select_none()
{
    SendMessageW(port_list, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

// The selected item's text; false when nothing is selected or it would not fit.
bool dialog_port_list_selected_text(wchar_t* buffer, unsigned capacity)
{
    LRESULT index = SendMessageW(port_list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return false;
    LRESULT length = SendMessageW(port_list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length < 0 || static_cast<unsigned long long>(length) >= capacity)
        return false;
    return SendMessageW(port_list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer)) !=
           CB_ERR;
}

// "Опросить" and "СТАРТ" together.
void dialog_show_buttons(bool visible)
{
    show_control(start_button, visible);
    show_control(poll_button, visible);
}

// "СТАРТ" alone.
void dialog_hide_start_button()
{
    show_control(start_button, false);
}

// Both progress bars.
void dialog_hide_progress_bars()
{
    show_control(block_bar, false);
    show_control(activity_bar, false);
}
