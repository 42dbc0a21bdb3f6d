#include "tools/viewer/viewer_window.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "api/task_rules.h"
#include "store/task_store.h"
#include "tools/dlmgrctl/lock_report.h"
#include "tools/dlmgrctl/store_inspection.h"
#include "tools/dlmgrctl/task_text.h"
#include "tools/viewer/viewer_feed.h"
#include "tools/viewer/viewer_settings.h"
#include "win/unique_resource.h"

namespace dlmgrview {

namespace {

constexpr wchar_t kClassName[] = L"DlmgrViewWindow";
constexpr UINT_PTR kHolderTimer = 1;
constexpr UINT kHolderTimerMs = 250;
// The message line shows this many lines whole; a longer message scrolls.
constexpr int kMessageLines = 6;
// WM_DPICHANGED, from Windows 8.1 on: the headers of Vista, which the
// library targets, do not name it.
constexpr UINT kDpiChangedMessage = 0x02E0;

// Text from the system's code page: the tools' messages and, as hosts store
// it, every task's text.
std::wstring Wide(const std::string& text) {
    if (text.empty()) return L"";
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

// A field of the table as a person should see it: control characters made
// visible.
template <size_t Width>
std::wstring Cell(const char (&field)[Width]) {
    return Wide(dlmgrctl::ShownField(field, Width));
}

constexpr const wchar_t* kColumnTitles[kColumnCount] = {L"Id", L"Kind", L"Status", L"File",
                                                        L"Source or torrent"};
constexpr const char* kActions[] = {"open", "resume", "again", "delete"};

class ViewerWindow {
public:
    ViewerWindow(HWND window, const ViewerOptions& options) : window_(window), options_(options) {}

    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

private:
    void Create();
    void Layout();
    void Fill();
    void Take(std::unique_ptr<FeedSnapshot> snapshot);
    void Act(WORD command);
    bool Confirm(const std::wstring& question);
    // Greys what the selected task's status cannot take.
    void EnableActions();
    void SetStatus(int part, const std::wstring& text);
    // The message line: what the last action did, who holds the store, and
    // the table's notes, one a line.
    void ShowMessage();
    void ShowHolder();
    // The list the tab shows: 0 running, 1 stopped.
    int Category() const { return TabCtrl_GetCurSel(tabs_) == 1 ? 1 : 0; }
    // The task of the list's row item, or null.
    const TaskRecord* TaskAt(int item) const;
    const TaskRecord* Selected() const { return TaskAt(ListView_GetNextItem(list_, -1, LVNI_SELECTED)); }
    int Scaled(int pixels) const { return ::MulDiv(pixels, dpi_, 96); }
    int LineHeight() const;
    void SaveLayout();

    HWND window_;
    ViewerOptions options_;
    HWND toolbar_ = nullptr;
    HWND tabs_ = nullptr;
    HWND list_ = nullptr;
    HWND message_ = nullptr;
    HWND status_ = nullptr;
    HMENU taskMenu_ = nullptr;
    dlmgr::UniqueFont font_;
    int dpi_ = 96;
    std::unique_ptr<FeedSnapshot> shown_;
    std::unique_ptr<ViewerFeed> feed_;
    // What the last action did, until the table changes after it.
    std::wstring said_;
    unsigned saidAt_[2] = {};
    std::wstring holder_;  // who has held the store for more than a second
};

int WindowDpi(HWND window) {
    using GetDpi = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpi>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    const UINT dpi = getDpi != nullptr ? getDpi(window) : 96;
    return dpi != 0 ? static_cast<int>(dpi) : 96;
}

void ViewerWindow::Create() {
    dpi_ = WindowDpi(window_);
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(window_, GWLP_HINSTANCE));

    HMENU bar = ::CreateMenu();
    HMENU file = ::CreatePopupMenu();
    ::AppendMenuW(file, MF_STRING, kCommandExit, L"E&xit");
    // Also the list's context menu: what can be done to a task.
    taskMenu_ = ::CreatePopupMenu();
    ::AppendMenuW(taskMenu_, MF_STRING, kCommandOpen, L"&Open file\tEnter");
    ::AppendMenuW(taskMenu_, MF_STRING, kCommandResume, L"&Resume");
    ::AppendMenuW(taskMenu_, MF_STRING, kCommandAgain, L"Download &again");
    ::AppendMenuW(taskMenu_, MF_STRING, kCommandDelete, L"&Delete...\tDel");
    ::AppendMenuW(taskMenu_, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(taskMenu_, MF_STRING, kCommandRefresh, L"Re&fresh\tF5");
    HMENU help = ::CreatePopupMenu();
    ::AppendMenuW(help, MF_STRING, kCommandAbout, L"&About dlmgrview");
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(taskMenu_), L"&Task");
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
    ::SetMenu(window_, bar);

    toolbar_ = ::CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                                 WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST | CCS_TOP,
                                 0, 0, 0, 0, window_, reinterpret_cast<HMENU>(kToolbarId), instance,
                                 nullptr);
    ::SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ::SendMessageW(toolbar_, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_MIXEDBUTTONS);
    const wchar_t* const labels[] = {L"Open", L"Resume", L"Download again", L"Delete", L"Refresh"};
    TBBUTTON buttons[5] = {};
    for (int i = 0; i < 5; ++i) {
        buttons[i].iBitmap = I_IMAGENONE;
        buttons[i].idCommand = kCommandOpen + i;
        buttons[i].fsState = TBSTATE_ENABLED;
        buttons[i].fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_SHOWTEXT;
        buttons[i].iString = reinterpret_cast<INT_PTR>(labels[i]);
    }
    ::SendMessageW(toolbar_, TB_ADDBUTTONSW, 5, reinterpret_cast<LPARAM>(buttons));
    ::SendMessageW(toolbar_, TB_AUTOSIZE, 0, 0);

    tabs_ = ::CreateWindowExW(0, WC_TABCONTROLW, nullptr, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0,
                              0, 0, window_, reinterpret_cast<HMENU>(kTabsId), instance, nullptr);
    TCITEMW tab = {};
    tab.mask = TCIF_TEXT;
    tab.pszText = const_cast<wchar_t*>(L"Running");
    ::SendMessageW(tabs_, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&tab));
    tab.pszText = const_cast<wchar_t*>(L"Stopped");
    ::SendMessageW(tabs_, TCM_INSERTITEMW, 1, reinterpret_cast<LPARAM>(&tab));

    list_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, nullptr,
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS |
                                  LVS_SINGLESEL,
                              0, 0, 0, 0, window_, reinterpret_cast<HMENU>(kListId), instance, nullptr);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER);
    const ViewerPlacement placement = options_.rememberPlacement ? LoadPlacement() : ViewerPlacement();
    for (int i = 0; i < kColumnCount; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(kColumnTitles[i]);
        column.cx = Scaled(placement.columns[i]);
        column.iSubItem = i;
        ::SendMessageW(list_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    // Read-only text that wraps, can be selected and copied (a support
    // person quotes it), and scrolls when longer than kMessageLines.
    message_ = ::CreateWindowExW(0, L"EDIT", nullptr,
                                 WS_CHILD | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                                 0, 0, 0, 0, window_, reinterpret_cast<HMENU>(kMessageId), instance,
                                 nullptr);

    // The system's message font, as dialogs use, rather than the old system font.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        font_.reset(::CreateFontIndirectW(&metrics.lfMessageFont));
        for (HWND control : {tabs_, list_, message_}) {
            ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        }
    }
    status_ = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP,
                                0, 0, 0, 0, window_, reinterpret_cast<HMENU>(kStatusId), instance,
                                nullptr);
    if (placement.window.right > placement.window.left) {
        const RECT& r = placement.window;
        ::SetWindowPos(window_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Layout();
    SetStatus(kPartFile, Wide(dlmgrctl::DefaultDataFile()));
    EnableActions();
    ::SetTimer(window_, kHolderTimer, kHolderTimerMs, nullptr);
    feed_ = std::make_unique<ViewerFeed>(window_);
}

int ViewerWindow::LineHeight() const {
    const HDC dc = ::GetDC(message_);
    const HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
    if (font_) ::SelectObject(dc, font_.get());
    TEXTMETRICW metrics = {};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    ::ReleaseDC(message_, dc);
    return metrics.tmHeight;
}

void ViewerWindow::Layout() {
    RECT client = {};
    ::GetClientRect(window_, &client);
    ::SendMessageW(toolbar_, TB_AUTOSIZE, 0, 0);
    ::SendMessageW(status_, WM_SIZE, 0, 0);
    RECT toolbar = {}, status = {};
    ::GetWindowRect(toolbar_, &toolbar);
    ::GetWindowRect(status_, &status);
    const int top = toolbar.bottom - toolbar.top;
    int bottom = client.bottom - (status.bottom - status.top);
    const int parts[2] = {Scaled(260), -1};
    ::SendMessageW(status_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));

    // The message line takes the lines its text wraps to at this width.
    const int margin = Scaled(4);
    if (::GetWindowTextLengthW(message_) > 0) {
        const int width = client.right - 2 * margin;
        ::MoveWindow(message_, margin, 0, width, LineHeight() * kMessageLines, FALSE);
        const int lines = static_cast<int>(::SendMessageW(message_, EM_GETLINECOUNT, 0, 0));
        ::ShowScrollBar(message_, SB_VERT, lines > kMessageLines);
        const int height = LineHeight() * std::min(lines, kMessageLines);
        bottom -= height + 2 * margin;
        ::MoveWindow(message_, margin, bottom + margin, width, height, TRUE);
        ::ShowWindow(message_, SW_SHOWNA);
    } else {
        ::ShowWindow(message_, SW_HIDE);
    }

    ::MoveWindow(tabs_, 0, top, client.right, bottom - top, TRUE);
    RECT inside = {0, 0, client.right, bottom - top};
    TabCtrl_AdjustRect(tabs_, FALSE, &inside);
    ::MoveWindow(list_, inside.left, top + inside.top, inside.right - inside.left,
                 inside.bottom - inside.top, TRUE);
    ::SetWindowPos(list_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void ViewerWindow::SetStatus(int part, const std::wstring& text) {
    ::SendMessageW(status_, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(text.c_str()));
}

void ViewerWindow::ShowMessage() {
    std::wstring text = said_;
    const auto add = [&text](const std::wstring& line) {
        if (!line.empty()) text += (text.empty() ? L"" : L"\r\n") + line;
    };
    add(holder_);
    if (shown_) {
        add(Wide(shown_->error));
        for (const std::string& note : shown_->notes) add(Wide(note));
    }
    wchar_t current[4096] = {};
    ::GetWindowTextW(message_, current, 4096);
    if (text == current) return;
    ::SetWindowTextW(message_, text.c_str());
    Layout();
}

const TaskRecord* ViewerWindow::TaskAt(int item) const {
    if (item < 0 || !shown_ || item >= static_cast<int>(shown_->tasks[Category()].size())) return nullptr;
    return &shown_->tasks[Category()][static_cast<size_t>(item)];
}

void ViewerWindow::EnableActions() {
    const TaskRecord* task = Selected();
    const bool allowed[] = {task != nullptr && dlmgr::CanOpen(*task),
                            task != nullptr && dlmgr::CanResume(*task),
                            task != nullptr && dlmgr::CanDownloadAgain(*task),
                            task != nullptr && dlmgr::CanDelete(*task)};
    for (int i = 0; i < 4; ++i) {
        const WORD command = static_cast<WORD>(kCommandOpen + i);
        ::SendMessageW(toolbar_, TB_ENABLEBUTTON, command, MAKELONG(allowed[i], 0));
        ::EnableMenuItem(taskMenu_, command, MF_BYCOMMAND | (allowed[i] ? MF_ENABLED : MF_GRAYED));
    }
}

void ViewerWindow::Take(std::unique_ptr<FeedSnapshot> snapshot) {
    if (!snapshot->said.empty()) {
        said_ = Wide(snapshot->said);
        saidAt_[0] = snapshot->counters[0];
        saidAt_[1] = snapshot->counters[1];
    } else if (snapshot->counters[0] != saidAt_[0] || snapshot->counters[1] != saidAt_[1]) {
        said_.clear();  // the table changed since: what was said no longer holds
    }
    if (!snapshot->error.empty() && shown_) {
        // Nothing could be read: what is shown stays, with the reason.
        shown_->error = snapshot->error;
    } else {
        shown_ = std::move(snapshot);
    }
    Fill();
}

void ViewerWindow::Fill() {
    const int category = Category();
    std::string keep;
    if (const TaskRecord* selected = Selected()) keep = dlmgrctl::FormatId(selected->id);
    ::SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(list_);
    if (shown_) {
        const auto& tasks = shown_->tasks[category];
        for (size_t i = 0; i < tasks.size(); ++i) {
            const TaskRecord& task = tasks[i];
            const std::string id = dlmgrctl::FormatId(task.id);
            std::wstring cells[kColumnCount] = {
                Wide(id.substr(0, 8) + "..."),
                Wide(dlmgrctl::KindName(task.kind)),
                Wide(dlmgrctl::StatusText(task.status)),
                Cell(task.filePath),
                task.kind == DLMGR_KIND_TORRENT ? Cell(task.torrentName) : Cell(task.source)};
            LVITEMW item = {};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(i);
            item.pszText = &cells[0][0];
            ::SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            for (int column = 1; column < kColumnCount; ++column) {
                LVITEMW sub = {};
                sub.iSubItem = column;
                sub.pszText = &cells[column][0];
                ::SendMessageW(list_, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&sub));
            }
            if (id == keep) ListView_SetItemState(list_, static_cast<int>(i), LVIS_SELECTED | LVIS_FOCUSED,
                                                  LVIS_SELECTED | LVIS_FOCUSED);
        }
        const size_t all = shown_->tasks[0].size() + shown_->tasks[1].size();
        SetStatus(kPartCounts, L"Running " + std::to_wstring(shown_->tasks[0].size()) +
                                   L", stopped " + std::to_wstring(shown_->tasks[1].size()) +
                                   (dlmgrctl::TableIsFull(all) ? L", full" : L"") +
                                   (shown_->live ? L"" : L" (as stored)") +
                                   (shown_->notSaved ? L" (not saved)" : L""));
    }
    ::SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list_, nullptr, TRUE);
    EnableActions();
    ShowMessage();
}

bool ViewerWindow::Confirm(const std::wstring& question) {
    return options_.confirm ? options_.confirm(window_, question)
                            : ::MessageBoxW(window_, question.c_str(), L"dlmgrview",
                                            MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void ViewerWindow::Act(WORD command) {
    if (command == kCommandRefresh) {
        feed_->Refresh();
        return;
    }
    const TaskRecord* task = Selected();
    if (task == nullptr) return;  // greyed
    const std::string action = kActions[command - kCommandOpen];
    std::wstring question;
    if (command == kCommandDelete) question = L"Delete the task " + Cell(task->filePath) + L"?";
    if (shown_ && !shown_->live) {
        // Said before, not after: acting loads the library, whose start-up
        // then keeps only the paused tasks of a table nobody has open.
        size_t dropped = 0;
        for (const auto& tasks : shown_->tasks) {
            for (const TaskRecord& record : tasks) dropped += record.status != DLMGR_STATUS_PAUSED;
        }
        if (dropped > 0) {
            question = L"No host has the task table open. Acting loads dlmgr.dll, whose start-up "
                       L"keeps only the paused tasks: " + std::to_wstring(dropped) +
                       L" task(s) that are not paused will be dropped from the table.\r\n\r\n" +
                       (question.empty() ? L"Go on?" : question);
        }
    }
    if (!question.empty() && !Confirm(question)) return;
    said_ = L"working: " + Wide(action) + L"...";
    ShowMessage();
    feed_->Act(action, task->id);
}

void ViewerWindow::ShowHolder() {
    const dlmgrctl::LockReport report = dlmgrctl::ReadStoreLockReport();
    holder_ = report.ownerThreadId != 0 && report.heldForMs > 1000
                  ? L"store " + Wide(dlmgrctl::DescribeHolder(report))
                  : L"";
    ShowMessage();
}

void ViewerWindow::SaveLayout() {
    if (!options_.rememberPlacement) return;
    ViewerPlacement placement;
    WINDOWPLACEMENT where = {};
    where.length = sizeof(where);
    ::GetWindowPlacement(window_, &where);
    placement.window = where.rcNormalPosition;
    for (int i = 0; i < kColumnCount; ++i) {
        placement.columns[static_cast<size_t>(i)] = ::MulDiv(ListView_GetColumnWidth(list_, i), 96, dpi_);
    }
    SavePlacement(placement);
}

LRESULT ViewerWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            Create();
            return 0;
        case WM_SIZE:
            Layout();
            return 0;
        case kDpiChangedMessage: {
            dpi_ = HIWORD(wParam);
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            ::SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                           suggested->right - suggested->left, suggested->bottom - suggested->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_SETFOCUS:
            ::SetFocus(list_);
            return 0;
        case kSnapshotMessage:
            Take(std::unique_ptr<FeedSnapshot>(reinterpret_cast<FeedSnapshot*>(wParam)));
            return 0;
        case WM_TIMER:
            if (wParam == kHolderTimer) ShowHolder();
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == kTabsId && header->code == TCN_SELCHANGE) Fill();
            if (header->idFrom == kListId && header->code == LVN_ITEMCHANGED) EnableActions();
            if (header->idFrom == kListId && header->code == LVN_GETINFOTIPW) {
                auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(lParam);
                if (const TaskRecord* task = TaskAt(tip->iItem)) {
                    const std::wstring id = L"id " + Wide(dlmgrctl::FormatId(task->id));
                    ::lstrcpynW(tip->pszText, id.c_str(), tip->cchTextMax);
                }
            }
            if (header->idFrom == kListId && header->code == NM_DBLCLK) {
                const TaskRecord* task = Selected();
                if (task != nullptr && dlmgr::CanOpen(*task)) Act(kCommandOpen);
            }
            return 0;
        }
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == list_) {
                POINT at = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                if (at.x == -1 && at.y == -1) {
                    RECT r = {};
                    ::GetWindowRect(list_, &r);
                    at = {r.left + 10, r.top + 10};
                }
                ::TrackPopupMenu(taskMenu_, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
                return 0;
            }
            break;
        case WM_COMMAND: {
            const WORD command = LOWORD(wParam);
            if (command >= kCommandOpen && command <= kCommandRefresh) {
                Act(command);
            } else if (command == kCommandAbout) {
                ::MessageBoxW(window_,
                              (L"dlmgrview " + Wide(DLMGR_VERSION) +
                               L"\nThe shared download task list, as every host sees it.")
                                  .c_str(),
                              L"About dlmgrview", MB_OK | MB_ICONINFORMATION);
            } else if (command == kCommandExit) {
                ::DestroyWindow(window_);
            }
            return 0;
        }
        case WM_DESTROY:
            ::KillTimer(window_, kHolderTimer);
            SaveLayout();
            feed_.reset();
            ::PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* viewer = reinterpret_cast<ViewerWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        viewer = new ViewerWindow(window, *static_cast<const ViewerOptions*>(create->lpCreateParams));
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(viewer));
    }
    if (viewer == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = viewer->Handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete viewer;
    }
    return result;
}

}  // namespace

HWND CreateViewerWindow(HINSTANCE instance, const ViewerOptions& options) {
    static const bool registered = [instance] {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES |
                                                               ICC_BAR_CLASSES};
        ::InitCommonControlsEx(&controls);
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = WindowProcedure;
        windowClass.hInstance = instance;
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
        windowClass.lpszClassName = kClassName;
        return ::RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered) return nullptr;
    return ::CreateWindowExW(0, kClassName, L"dlmgr tasks", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, 900, 500, nullptr, nullptr, instance,
                             const_cast<ViewerOptions*>(&options));
}

HACCEL ViewerAccelerators() {
    static ACCEL keys[] = {{FVIRTKEY, VK_RETURN, kCommandOpen},
                           {FVIRTKEY, VK_DELETE, kCommandDelete},
                           {FVIRTKEY, VK_F5, kCommandRefresh}};
    static const HACCEL table = ::CreateAcceleratorTableW(keys, 3);
    return table;
}

}  // namespace dlmgrview
