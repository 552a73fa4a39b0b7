// Loaded into the updater's process by window_probe's hook: reads the fonts of "СТАРТ" and the
// two lines where their handles mean something, and leaves as dialog properties their heights
// and whether the font each control had at the previous request has been deleted since.
#include <windows.h>

#include <string>

// The probe's request arrives as a registered message sent to the dialog.
extern "C" __declspec(dllexport) LRESULT CALLBACK probe_font_hook(int code, WPARAM wparam, LPARAM lparam)
{
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (code == HC_ACTION && call->message == RegisterWindowMessageW(L"tq734_probe_fonts")) {
        for (int id : {112, 117, 118}) {
            std::wstring name = L"tq734_probe_font" + std::to_wstring(id);
            LOGFONTW font = {};
            HFONT h = HFONT(SendDlgItemMessageW(call->hwnd, id, WM_GETFONT, 0, 0));
            INT_PTR height = h && GetObjectW(h, sizeof font, &font) ? font.lfHeight : 0;
            SetPropW(call->hwnd, name.c_str(), HANDLE(height));
            // 1: the previous font is gone, 2: it still exists, 0: no previous or the same one.
            std::wstring handle_name = L"tq734_probe_handle" + std::to_wstring(id);
            HGDIOBJ previous = GetPropW(call->hwnd, handle_name.c_str());
            INT_PTR freed = previous && previous != h ? (GetObjectType(previous) == 0 ? 1 : 2) : 0;
            SetPropW(call->hwnd, (L"tq734_probe_freed" + std::to_wstring(id)).c_str(), HANDLE(freed));
            SetPropW(call->hwnd, handle_name.c_str(), h);
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}
