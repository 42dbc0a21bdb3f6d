// dlmgrview: the task table in a window, for a person at the desktop. A host
// of dlmgr.dll like any download manager's window, that looks without
// changing anything: it loads the library only to act, or while another
// host has the table open.
//   dlmgrview [--exit-after SECONDS]
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "tools/viewer/viewer_window.h"

namespace {

// Per-monitor aware where the system knows how; the window follows its
// monitor's scale (WM_DPICHANGED).
void BecomeDpiAware() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("user32.dll"), "SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (setContext == nullptr || !setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) {
        ::SetProcessDPIAware();
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    BecomeDpiAware();
    dlmgrview::ViewerOptions options;
    const HWND window = dlmgrview::CreateViewerWindow(instance, options);
    if (window == nullptr) return 1;
    ::ShowWindow(window, show);
    // For screenshots in tests: the window closes itself, remembering nothing
    // else than a person's close would.
    for (int i = 1; i + 1 < __argc; ++i) {
        if (std::strcmp(__argv[i], "--exit-after") == 0) {
            ::SetTimer(nullptr, 0, static_cast<UINT>(std::atoi(__argv[i + 1])) * 1000, nullptr);
        }
    }
    const HACCEL keys = dlmgrview::ViewerAccelerators();
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            ::DestroyWindow(window);
            continue;
        }
        if (::TranslateAcceleratorW(window, keys, &message)) continue;
        if (::IsDialogMessageW(window, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
