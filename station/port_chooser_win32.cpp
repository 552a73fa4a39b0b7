// Without ports on the command line and none remembered: the scanned ports as a checklist.
#include <windows.h>

#include "port_selection.h"
#include "station_options.h"
#include "station_platform.h"
#include "station_texts.h"

namespace {

constexpr unsigned SCANNED_PORTS = 256;
constexpr int ID_START = 1, ID_CANCEL = 2, ID_FIRST_PORT = 100;
HWND checks[SCANNED_PORTS];
int answer;   // 0 while open, ID_START or ID_CANCEL

LRESULT CALLBACK chooser_procedure(HWND h, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_COMMAND && (LOWORD(w) == ID_START || LOWORD(w) == ID_CANCEL)) {
        answer = LOWORD(w);
        return 0;
    }
    if (message == WM_CLOSE) {
        answer = ID_CANCEL;
        return 0;
    }
    return DefWindowProcW(h, message, w, l);
}

HWND child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, int x, int y, int width,
           int height, HFONT font)
{
    HWND c = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return c;
}

}  // namespace

bool choose_ports()
{
    ProbeResult found[SCANNED_PORTS];
    unsigned count = 0;
    for (unsigned n = 1; n <= SCANNED_PORTS; ++n)
        if ((found[n - 1] = probe_port(n)) != ProbeResult::Absent)
            ++count;
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    auto s = [dpi](int v) { return MulDiv(v, dpi, 96); };
    HFONT font = CreateFontW(-s(14), 0, 0, 0, FW_NORMAL, 0, 0, 0, RUSSIAN_CHARSET, 0, 0, 0, 0, L"Arial");
    WNDCLASSW c = {};
    c.lpfnWndProc = chooser_procedure;
    c.hInstance = GetModuleHandleW(nullptr);
    c.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    c.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    c.lpszClassName = L"TQ734StationPorts";
    RegisterClassW(&c);
    int columns = count > 16 ? 3 : 1;
    int rows = int(count + columns - 1) / columns;
    // Wide enough for the prompt on two lines and both buttons, whatever the number of ports.
    int inner = columns * s(180) > s(440) ? columns * s(180) : s(440);
    RECT r = {0, 0, s(20) + inner, s(60) + rows * s(24) + s(50)};
    AdjustWindowRect(&r, WS_CAPTION | WS_SYSMENU, FALSE);
    wchar_t caption[128];
    MultiByteToWideChar(CP_UTF8, 0, STATION_CAPTION, -1, caption, 128);
    HWND w = CreateWindowExW(0, c.lpszClassName, caption, WS_CAPTION | WS_SYSMENU | WS_VISIBLE, CW_USEDEFAULT,
                             CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, nullptr, c.hInstance, nullptr);
    child(w, L"STATIC",
          count ? L"Отметьте порты станции (до 16):"
                : L"Порты не найдены. Подключите адаптеры и запустите станцию снова.",
          SS_LEFT, -1, s(10), s(10), inner, s(40), font);
    int i = 0;
    for (unsigned n = 1; n <= SCANNED_PORTS; ++n) {
        checks[n - 1] = nullptr;
        if (found[n - 1] == ProbeResult::Absent)
            continue;
        wchar_t text[32];
        wsprintfW(text, found[n - 1] == ProbeResult::Busy ? L"COM%u (занят)" : L"COM%u", n);
        checks[n - 1] = child(w, L"BUTTON", text, BS_AUTOCHECKBOX | WS_TABSTOP, ID_FIRST_PORT + int(n), s(10) + (i / rows) * s(180),
                              s(55) + (i % rows) * s(24), s(170), s(22), font);
        ++i;
    }
    int y = s(60) + rows * s(24) + s(10);
    if (count)
        child(w, L"BUTTON", L"Начать", BS_DEFPUSHBUTTON | WS_TABSTOP, ID_START, s(10), y, s(100), s(28), font);
    child(w, L"BUTTON", count ? L"Отмена" : L"Закрыть", BS_PUSHBUTTON | WS_TABSTOP, ID_CANCEL, s(120), y, s(100),
          s(28), font);
    answer = 0;
    MSG message;
    while (!answer && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(w, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (answer == ID_START)
        for (unsigned n = 1; n <= SCANNED_PORTS; ++n)
            if (checks[n - 1] && SendMessageW(checks[n - 1], BM_GETCHECK, 0, 0) == BST_CHECKED)
                station_add_port(station_options, uint16_t(n));
    DestroyWindow(w);
    DeleteObject(font);
    return answer == ID_START && station_options.port_count > 0;
}
