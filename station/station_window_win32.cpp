// The station's window on Windows: the header and the tiles are painted by the window itself
// (into a memory bitmap, so that sixteen tiles changing at once do not flicker), in Arial
// bold like the updater's lines, every size scaled with the screen's dpi.
#include "station_window.h"

#include <windows.h>

#include <initializer_list>

#include "station_children.h"
#include "station_platform.h"
#include "station_run.h"
#include "station_texts.h"

namespace {

const wchar_t WINDOW_CLASS[] = L"TQ734Station";
constexpr UINT_PTR POLL_TIMER = 1, TICK_TIMER = 2;
constexpr UINT POLL_MS = 50;

HWND window;
HFONT firmware_font, counters_font, small_font, name_font, state_font;
int screen_dpi = 96;   // the monitor's
int dpi = 96;          // what the sizes are scaled by: the monitor's, less when the window is too small
int header_width_96;   // the firmware line with its mark and margins, at 96 dpi
bool closing;

// Grey, blue, green, red, violet: the tiles' colours as on Linux.
const COLORREF TILE_COLOURS[] = {RGB(0xd4, 0xd4, 0xd4), RGB(0x18, 0x56, 0xc0), RGB(0x1b, 0x8a, 0x36),
                                 RGB(0xc8, 0x20, 0x1e), RGB(0x6b, 0x3f, 0xa0)};

int scaled(int pixels)
{
    return MulDiv(pixels, dpi, 96);
}

HFONT make_font(int pixels, int weight)
{
    return CreateFontW(-scaled(pixels), 0, 0, 0, weight, 0, 0, 0, RUSSIAN_CHARSET, 0, 0, 0, 0, L"Arial");
}

// A UTF-8 text as a wide one (cut to the buffer).
void wide_of(const char* text, wchar_t* out, int capacity)
{
    if (MultiByteToWideChar(CP_UTF8, 0, text, -1, out, capacity) <= 0)
        out[0] = 0;
    out[capacity - 1] = 0;
}

void draw_text(HDC dc, HFONT font, COLORREF colour, const char* text, RECT r, UINT format)
{
    wchar_t wide[600];
    wide_of(text, wide, 600);
    SelectObject(dc, font);
    SetTextColor(dc, colour);
    DrawTextW(dc, wide, -1, &r, format | DT_NOPREFIX);
}

void fill(HDC dc, RECT r, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

int header_height()
{
    return scaled(8 + 22 + 26 + 18 + 6);
}

unsigned columns_for(unsigned count)
{
    return count <= 2 ? count : count <= 4 ? 2 : count <= 6 ? 3 : 4;
}

RECT tile_rect(unsigned slot)
{
    RECT client;
    GetClientRect(window, &client);
    unsigned columns = columns_for(port_slot_count ? port_slot_count : 1);
    unsigned rows = (port_slot_count + columns - 1) / columns;
    int gap = scaled(6), margin = scaled(8);
    int top = header_height();
    int width = (client.right - 2 * margin - int(columns - 1) * gap) / int(columns);
    int height = (client.bottom - top - margin - int(rows - 1) * gap) / int(rows ? rows : 1);
    int x = margin + int(slot % columns) * (width + gap), y = top + int(slot / columns) * (height + gap);
    return RECT{x, y, x + width, y + height};
}

// The firmware line and its mark as painted, with the margins.
int firmware_line_width()
{
    char text[HEADER_TEXT_CAPACITY];
    bool test_release = firmware_line(text, sizeof text);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, firmware_font);
    wchar_t wide[600];
    int width = 0;
    for (const char* part : {static_cast<const char*>(text), test_release ? TEST_RELEASE_TEXT : ""}) {
        RECT r = {0, 0, 0, 0};
        wide_of(part, wide, 600);
        DrawTextW(dc, wide, -1, &r, DT_LEFT | DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
        width += r.right;
    }
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return width + scaled(8) * 2 + scaled(16) + scaled(4);
}

void paint_header(HDC dc, const RECT& client)
{
    char text[HEADER_TEXT_CAPACITY];
    int m = scaled(8);
    bool test_release = firmware_line(text, sizeof text);
    RECT r = {m, m, client.right - m, m + scaled(22)};
    draw_text(dc, firmware_font, RGB(0x20, 0x20, 0x20), text, r, DT_LEFT | DT_SINGLELINE);
    if (test_release) {
        RECT measure = r;
        wchar_t wide[600];
        wide_of(text, wide, 600);
        SelectObject(dc, firmware_font);
        DrawTextW(dc, wide, -1, &measure, DT_LEFT | DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
        RECT mark = {measure.right + scaled(16), r.top, client.right - m, r.bottom};
        draw_text(dc, firmware_font, RGB(0xd0, 0, 0), TEST_RELEASE_TEXT, mark, DT_LEFT | DT_SINGLELINE);
    }
    counters_line(text, sizeof text);
    r = {m, r.bottom, client.right - m, r.bottom + scaled(26)};
    draw_text(dc, counters_font, RGB(0x20, 0x20, 0x20), text, r, DT_LEFT | DT_SINGLELINE | DT_VCENTER);
    records_line(records_path, text, sizeof text);
    r = {m, r.bottom, client.right - m, r.bottom + scaled(18)};
    draw_text(dc, records_status.failing ? counters_font : small_font,
              records_status.failing ? RGB(0xc0, 0, 0) : RGB(0x20, 0x20, 0x20), text, r,
              DT_LEFT | DT_SINGLELINE | DT_PATH_ELLIPSIS);
}

void paint_tile(HDC dc, unsigned slot)
{
    const PortSlot& s = port_slots[slot];
    RECT t = tile_rect(slot);
    COLORREF back = TILE_COLOURS[static_cast<unsigned>(s.colour)];
    bool grey = s.colour == TileColour::Waiting;
    COLORREF ink = grey ? RGB(0x1a, 0x1a, 0x1a) : RGB(0xff, 0xff, 0xff);
    fill(dc, t, back);
    int p = scaled(8);
    char text[STATE_TEXT_CAPACITY];
    port_display_name(s.port, text, sizeof text);
    RECT r = {t.left + p, t.top + p, t.right - p, t.top + p + scaled(26)};
    draw_text(dc, name_font, ink, text, r, DT_LEFT | DT_SINGLELINE | DT_VCENTER);
    RECT bar = {t.left + p, r.bottom + scaled(2), t.right - p, r.bottom + scaled(14)};
    fill(dc, bar, grey ? RGB(0xb0, 0xb0, 0xb0) : RGB(GetRValue(back) * 3 / 4, GetGValue(back) * 3 / 4, GetBValue(back) * 3 / 4));
    RECT done = bar;
    done.right = bar.left + MulDiv(bar.right - bar.left, int(s.blocks), int(BLOCKS_IN_ALL));
    fill(dc, done, grey ? RGB(0x80, 0x80, 0x80) : RGB(0xff, 0xff, 0xff));
    r = {t.left + p, bar.bottom + scaled(4), t.right - p, bar.bottom + scaled(22)};
    tile_version_text(s, text, sizeof text);
    draw_text(dc, small_font, ink, text, r, DT_LEFT | DT_SINGLELINE);
    tile_time_text(s, text, sizeof text);
    draw_text(dc, small_font, ink, text, r, DT_RIGHT | DT_SINGLELINE);
    r = {t.left + p, r.bottom + scaled(2), t.right - p, t.bottom - p};
    draw_text(dc, state_font, ink, s.state_text, r, DT_LEFT | DT_WORDBREAK);
}

void on_paint()
{
    PAINTSTRUCT ps;
    HDC screen = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
    HGDIOBJ old_font = SelectObject(dc, small_font);
    fill(dc, client, GetSysColor(COLOR_BTNFACE));
    SetBkMode(dc, TRANSPARENT);
    paint_header(dc, client);
    for (unsigned i = 0; i < port_slot_count; ++i)
        paint_tile(dc, i);
    BitBlt(screen, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, old_font);
    SelectObject(dc, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    EndPaint(window, &ps);
}

void finish_if_stopped()
{
    if (closing && station_all_stopped())
        DestroyWindow(window);
}

// Asks before stopping updates; stopped children end on the next polls.
void on_close(bool ask)
{
    char ports[STATION_MAX_PORTS * 8];
    if (!closing && ask && station_updating_ports(ports, sizeof ports) > 0) {
        char question[512];
        wsprintfA(question, "Идёт обновление: %s.\n\nПрервать обновление и закрыть станцию? Прерванные устройства "
                            "придётся обновить заново.", ports);
        wchar_t wide[512], caption[128];
        wide_of(question, wide, 512);
        wide_of(STATION_CAPTION, caption, 128);
        if (MessageBoxW(window, wide, caption, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
            return;
    }
    if (!closing) {
        closing = true;
        station_stop_all();
    }
    finish_if_stopped();
}

// The dpi for this client area: the monitor's, or less (never under 96) where a tile would lose
// lines or the header its end at the monitor's. At 96 dpi a tile needs 137 pixels (padding, name,
// bar, facts and three lines of state) and 230 across.
int fitting_dpi(const RECT& client)
{
    unsigned columns = columns_for(port_slot_count ? port_slot_count : 1);
    int rows = int((port_slot_count + columns - 1) / columns);
    if (rows < 1)
        rows = 1;
    int high = 80 + rows * 137 + (rows - 1) * 6 + 8;
    int fit = MulDiv(client.bottom, 96, high);
    int across = MulDiv(client.right - 16 - int(columns - 1) * 6, 96, int(columns) * 230);
    if (across < fit)
        fit = across;
    if (header_width_96 > 0 && MulDiv(client.right, 96, header_width_96) < fit)
        fit = MulDiv(client.right, 96, header_width_96);
    return fit < 96 ? 96 : fit > screen_dpi ? screen_dpi : fit;
}

void make_fonts()
{
    firmware_font = make_font(15, FW_BOLD);
    counters_font = make_font(18, FW_BOLD);
    small_font = make_font(13, FW_NORMAL);
    name_font = make_font(20, FW_BOLD);
    state_font = make_font(16, FW_BOLD);
}

void delete_fonts()
{
    for (HFONT f : {firmware_font, counters_font, small_font, name_font, state_font})
        DeleteObject(f);
}

// Sizes for the new client area, the fonts made again when they change.
void on_size(HWND h)
{
    RECT client;
    GetClientRect(h, &client);
    int fit = fitting_dpi(client);
    if (fit != dpi) {
        dpi = fit;
        delete_fonts();
        make_fonts();
    }
    InvalidateRect(h, nullptr, FALSE);
}

// The monitor's dpi, the fonts at it and the header's width measured with them.
void use_screen_dpi(int new_dpi)
{
    screen_dpi = dpi = new_dpi < 96 ? 96 : new_dpi;
    delete_fonts();
    make_fonts();
    header_width_96 = MulDiv(firmware_line_width(), 96, dpi);
}

LRESULT CALLBACK window_procedure(HWND h, UINT message, WPARAM w, LPARAM l)
{
    switch (message) {
    case WM_PAINT:
        on_paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        on_size(h);
        return 0;
    case WM_TIMER:
        if (w == POLL_TIMER)
            children_poll();
        else
            station_tick();
        finish_if_stopped();
        return 0;
    case WM_CLOSE:
        on_close(true);
        return 0;
    case WM_DPICHANGED: {
        // Another monitor: the fonts again at its dpi, the window where the system suggests.
        use_screen_dpi(HIWORD(w));
        const RECT* r = reinterpret_cast<const RECT*>(l);
        SetWindowPos(h, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(h, nullptr, FALSE);
        return 0;
    }
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (w)
            on_close(false);
        return 0;
    case WM_DESTROY:
        KillTimer(h, POLL_TIMER);
        KillTimer(h, TICK_TIMER);
        delete_fonts();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(h, message, w, l);
}

}  // namespace

void view_tile_changed(unsigned slot)
{
    if (!window || slot >= port_slot_count)
        return;
    RECT r = tile_rect(slot);
    InvalidateRect(window, &r, FALSE);
}

void view_header_changed()
{
    if (!window)
        return;
    RECT client;
    GetClientRect(window, &client);
    client.bottom = header_height();
    InvalidateRect(window, &client, FALSE);
}

bool station_window_open()
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HDC screen = GetDC(nullptr);
    use_screen_dpi(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    WNDCLASSW c = {};
    c.lpfnWndProc = window_procedure;
    c.hInstance = instance;
    c.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    c.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(103), IMAGE_ICON, 0, 0, LR_SHARED));
    c.lpszClassName = WINDOW_CLASS;
    RegisterClassW(&c);
    unsigned columns = columns_for(port_slot_count ? port_slot_count : 1);
    unsigned rows = (port_slot_count + columns - 1) / columns;
    // Sixteen tiles fill a 1366 × 768 screen; fewer get the same tile size, and the window is
    // never narrower than the header's firmware line with its test-release mark.
    RECT r = {0, 0, scaled(8) * 2 + int(columns) * scaled(332), header_height() + int(rows) * scaled(160)};
    int header_width = firmware_line_width();
    if (r.right < header_width)
        r.right = header_width;
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width > work.right - work.left)
        width = work.right - work.left;
    if (height > work.bottom - work.top)
        height = work.bottom - work.top;
    wchar_t caption[128];
    wide_of(STATION_CAPTION, caption, 128);
    window = CreateWindowExW(0, WINDOW_CLASS, caption, WS_OVERLAPPEDWINDOW, work.left, work.top, width, height,
                             nullptr, nullptr, instance, nullptr);
    if (!window)
        return false;
    ShowWindow(window, SW_SHOW);
    SetTimer(window, POLL_TIMER, POLL_MS, nullptr);
    SetTimer(window, TICK_TIMER, 1000, nullptr);
    return true;
}

void station_window_run()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
