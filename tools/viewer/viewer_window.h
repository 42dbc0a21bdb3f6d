// dlmgrview's main window: the running and stopped lists on two tabs, a
// toolbar, a menu and a status bar. A library, so that a test can create it in
// its own process and drive it with the controls' own messages.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace dlmgrview {

// Command ids of the toolbar, the menus and the keyboard.
enum Command : WORD {
    kCommandOpen = 101,
    kCommandResume,
    kCommandAgain,
    kCommandDelete,
    kCommandRefresh,
    kCommandAbout,
    kCommandExit,
};

// Child control ids. The message line, above the status bar, wraps what an
// action did and what the table's state means, whole, at any width.
enum Control : WORD { kToolbarId = 1, kTabsId, kListId, kStatusId, kMessageId };
// Status bar parts.
enum StatusPart : int { kPartCounts = 0, kPartFile = 1 };

struct ViewerOptions {
    // Asked before a deletion, and before any action that would make the
    // library's start-up purge the table; true goes ahead. A message box
    // unless set.
    std::function<bool(HWND owner, const std::wstring& question)> confirm;
    bool rememberPlacement = true;  // read and write the size and column widths
};

// Registers the window class (once) and creates the window, hidden.
HWND CreateViewerWindow(HINSTANCE instance, const ViewerOptions& options);
// The keyboard's shortcuts for the message loop (Enter, Delete, F5).
HACCEL ViewerAccelerators();

}  // namespace dlmgrview
