// Test tool: reads what the technician sees in the updater's window and acts on it.
//   window_probe state                 print the window's state as key=value lines (UTF-8)
//   window_probe click ID              press push button ID
//   window_probe select TEXT           pick the port list item TEXT (as a user's choice)
//   window_probe drop 1|0              open (1) or close (0) the port list's drop-down, as a click
//                                      on its arrow does (opening sends the dialog CBN_DROPDOWN)
//   window_probe dismiss               press OK in the updater's message box
//   window_probe wait KEY VALUE MS     wait until state line KEY equals VALUE (a bar: reaches it)
//   window_probe fonts                 print the heights of the fonts of "СТАРТ" and both lines,
//                                      and whether the fonts they had at the last call are deleted
//   window_probe dpi N L T W H         tell the window it is now on an N-dpi monitor, suggesting
//                                      the rectangle L, T, W x H (as Windows does on a move)
// Exit code 0 on success, 1 when the window (or the message box) is absent, 2 on bad usage.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

const wchar_t DIALOG_CAPTION[] = L"Обновитель TQ734 (CPU2)";
const int CONTROLS[] = {111, 112, 115, 121, 122, 132, 116, 117, 118};

std::string utf8(const std::wstring& w)
{
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// Line breaks and tabs escaped so that every value stays on one line.
std::string one_line(const std::wstring& w)
{
    std::string out;
    for (char c : utf8(w)) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    return out;
}

std::wstring window_text(HWND h)
{
    wchar_t buf[1024];
    buf[0] = 0;
    SendMessageTimeoutW(h, WM_GETTEXT, 1024, LPARAM(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
    buf[1023] = 0;
    return buf;
}

HWND find_dialog()
{
    return FindWindowW(L"#32770", DIALOG_CAPTION);
}

struct BoxSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK match_box(HWND h, LPARAM lp)
{
    BoxSearch* s = reinterpret_cast<BoxSearch*>(lp);
    wchar_t cls[64];
    GetClassNameW(h, cls, 64);
    if (h != s->owner && wcscmp(cls, L"#32770") == 0 && GetWindow(h, GW_OWNER) == s->owner && IsWindowVisible(h)) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

// A message box is a dialog owned by the updater's window.
HWND find_message_box(HWND dialog)
{
    BoxSearch s = {dialog, nullptr};
    EnumWindows(match_box, LPARAM(&s));
    return s.found;
}

// A window's place on the screen: left,top,width,height.
std::string rect_text(HWND h)
{
    RECT r = {};
    GetWindowRect(h, &r);
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right - r.left) + "," +
           std::to_string(r.bottom - r.top);
}

void emit(std::string& out, const char* key, const std::string& value)
{
    out += key;
    out += '=';
    out += value;
    out += '\n';
}

std::string describe(HWND dialog)
{
    std::string out;
    emit(out, "caption", one_line(window_text(dialog)));
    for (int id : CONTROLS) {
        HWND c = GetDlgItem(dialog, id);
        std::string key = "c" + std::to_string(id);
        emit(out, (key + ".visible").c_str(), c && IsWindowVisible(c) ? "1" : "0");
        emit(out, (key + ".enabled").c_str(), c && IsWindowEnabled(c) ? "1" : "0");
    }
    emit(out, "window", rect_text(dialog));
    emit(out, "status", one_line(window_text(GetDlgItem(dialog, 117))));
    emit(out, "info", one_line(window_text(GetDlgItem(dialog, 118))));
    emit(out, "banner", one_line(window_text(GetDlgItem(dialog, 116))));
    emit(out, "block_progress", std::to_string(SendDlgItemMessageW(dialog, 121, PBM_GETPOS, 0, 0)));
    emit(out, "activity", std::to_string(SendDlgItemMessageW(dialog, 122, PBM_GETPOS, 0, 0)));
    HWND list = GetDlgItem(dialog, 132);
    LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    std::string items;
    for (LRESULT i = 0; i < count && i < 300; ++i) {
        wchar_t item[64] = {0};
        if (SendMessageW(list, CB_GETLBTEXTLEN, WPARAM(i), 0) < 63)
            SendMessageW(list, CB_GETLBTEXT, WPARAM(i), LPARAM(item));
        if (!items.empty())
            items += ',';
        items += utf8(item);
    }
    emit(out, "ports", items);
    LRESULT sel = SendMessageW(list, CB_GETCURSEL, 0, 0);
    std::string selected;
    if (sel >= 0) {
        wchar_t item[64] = {0};
        if (SendMessageW(list, CB_GETLBTEXTLEN, WPARAM(sel), 0) < 63)
            SendMessageW(list, CB_GETLBTEXT, WPARAM(sel), LPARAM(item));
        selected = utf8(item);
    }
    emit(out, "selected", selected);
    emit(out, "dropped", SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0) ? "1" : "0");
    HWND focus_owner = nullptr;
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui))
        focus_owner = gui.hwndFocus;
    emit(out, "focus", focus_owner ? std::to_string(GetDlgCtrlID(focus_owner)) : "");
    HWND box = find_message_box(dialog);
    emit(out, "msgbox", box ? "1" : "0");
    emit(out, "msgbox.caption", box ? one_line(window_text(box)) : "");
    emit(out, "msgbox.text", box ? one_line(window_text(GetDlgItem(box, 0xFFFF))) : "");
    emit(out, "msgbox.window", box ? rect_text(box) : "");
    return out;
}

void print(const std::string& s)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), DWORD(s.size()), &written, nullptr);
}

// Finds one key's value in a description.
std::string value_of(const std::string& description, const std::string& key)
{
    std::string prefix = key + "=";
    size_t at = 0;
    while (at < description.size()) {
        size_t end = description.find('\n', at);
        if (end == std::string::npos)
            end = description.size();
        if (description.compare(at, prefix.size(), prefix) == 0)
            return description.substr(at + prefix.size(), end - at - prefix.size());
        at = end + 1;
    }
    return std::string();
}

int cmd_state()
{
    HWND d = find_dialog();
    if (!d)
        return 1;
    print(describe(d));
    return 0;
}

// Posted, not sent: the handler may open a modal message box and must not block the probe.
int cmd_click(int id)
{
    HWND d = find_dialog();
    if (!d)
        return 1;
    HWND c = GetDlgItem(d, id);
    if (!c)
        return 1;
    PostMessageW(d, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(c));
    return 0;
}

int cmd_select(const std::wstring& text)
{
    HWND d = find_dialog();
    if (!d)
        return 1;
    HWND list = GetDlgItem(d, 132);
    LRESULT i = SendMessageW(list, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(text.c_str()));
    if (i < 0)
        return 1;
    SendMessageW(list, CB_SETCURSEL, WPARAM(i), 0);
    PostMessageW(d, WM_COMMAND, MAKEWPARAM(132, CBN_SELCHANGE), LPARAM(list));
    return 0;
}

// Sent, not posted: the probe returns once the list has been filled and opened (or closed).
int cmd_drop(bool open)
{
    HWND d = find_dialog();
    if (!d)
        return 1;
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(GetDlgItem(d, 132), CB_SHOWDROPDOWN, open ? TRUE : FALSE, 0, SMTO_ABORTIFHUNG, 5000,
                               &result)
               ? 0
               : 1;
}

int cmd_dismiss()
{
    HWND d = find_dialog();
    HWND box = d ? find_message_box(d) : nullptr;
    if (!box)
        return 1;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(GetDlgItem(box, IDOK)));
    return 0;
}

// The suggested rectangle must be readable in the updater's process: it is written there.
int cmd_dpi(int dpi, int left, int top, int width, int height)
{
    HWND d = find_dialog();
    if (!d)
        return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(d, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    if (!process)
        return 1;
    RECT r = {left, top, left + width, top + height};
    void* remote = VirtualAllocEx(process, nullptr, sizeof r, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    int rc = 1;
    if (remote && WriteProcessMemory(process, remote, &r, sizeof r, nullptr)) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(d, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), LPARAM(remote), SMTO_ABORTIFHUNG, 5000,
                                &result))
            rc = 0;
    }
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return rc;
}

// A font handle means nothing outside its process: the hook DLL reads the heights inside the
// updater and leaves them as window properties of the dialog.
int cmd_fonts()
{
    HWND d = find_dialog();
    if (!d)
        return 1;
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll(path, n);
    dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"window_probe_hook.dll";
    HMODULE module = LoadLibraryW(dll.c_str());
    HOOKPROC proc = module ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, "probe_font_hook"))) : nullptr;
    if (!proc)
        return 1;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, proc, module, GetWindowThreadProcessId(d, nullptr));
    if (!hook)
        return 1;
    DWORD_PTR result = 0;
    UINT ask = RegisterWindowMessageW(L"tq734_probe_fonts");
    BOOL sent = SendMessageTimeoutW(d, ask, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    UnhookWindowsHookEx(hook);
    if (!sent)
        return 1;
    std::string out;
    for (int id : {112, 117, 118}) {
        std::wstring name = L"tq734_probe_font" + std::to_wstring(id);
        INT_PTR height = INT_PTR(GetPropW(d, name.c_str()));
        emit(out, ("c" + std::to_string(id) + ".font").c_str(), height ? std::to_string(height) : "");
        INT_PTR freed = INT_PTR(GetPropW(d, (L"tq734_probe_freed" + std::to_wstring(id)).c_str()));
        emit(out, ("c" + std::to_string(id) + ".old_font").c_str(), freed == 1 ? "deleted" : freed == 2 ? "kept" : "");
    }
    print(out);
    return 0;
}

// True when the state shows what is waited for. A bar moves on every 50 ms, faster than a
// loaded machine may look, so for the bars a position past the one asked for counts too.
bool reached(const std::string& key, const std::string& seen, const std::string& wanted)
{
    if (seen == wanted)
        return true;
    if (key != "block_progress" && key != "activity")
        return false;
    return !seen.empty() && std::strtol(seen.c_str(), nullptr, 10) >= std::strtol(wanted.c_str(), nullptr, 10);
}

int cmd_wait(const std::string& key, const std::string& value, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND d = find_dialog();
        if (d && reached(key, value_of(describe(d), key), value))
            return 0;
        if (GetTickCount() - start > ms) {
            if (d)
                print(describe(d));
            return 1;
        }
        Sleep(20);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && wcscmp(argv[1], L"state") == 0)
        return cmd_state();
    if (argc >= 3 && wcscmp(argv[1], L"click") == 0)
        return cmd_click(_wtoi(argv[2]));
    if (argc >= 3 && wcscmp(argv[1], L"select") == 0)
        return cmd_select(argv[2]);
    if (argc >= 3 && wcscmp(argv[1], L"drop") == 0)
        return cmd_drop(_wtoi(argv[2]) != 0);
    if (argc >= 2 && wcscmp(argv[1], L"dismiss") == 0)
        return cmd_dismiss();
    if (argc >= 5 && wcscmp(argv[1], L"wait") == 0)
        return cmd_wait(utf8(argv[2]), utf8(argv[3]), DWORD(_wtoi(argv[4])));
    if (argc >= 2 && wcscmp(argv[1], L"fonts") == 0)
        return cmd_fonts();
    if (argc >= 7 && wcscmp(argv[1], L"dpi") == 0)
        return cmd_dpi(_wtoi(argv[2]), _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6]));
    print("usage: window_probe state | click ID | select TEXT | drop 1|0 | dismiss | wait KEY VALUE MS | fonts | dpi N L T W H\n");
    return 2;
}
