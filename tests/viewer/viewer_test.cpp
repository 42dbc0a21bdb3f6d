// The viewer's window, created in this process and driven with its
// controls' own messages while another process changes the table.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "settings/settings_names.h"
#include "tests/support/child_process.h"
#include "tests/support/dlmgr_library.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/store_file.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_sync.h"
#include "tools/viewer/viewer_settings.h"
#include "tools/viewer/viewer_window.h"

namespace dlmgr::test {
namespace {

using dlmgrview::kCommandDelete;
using dlmgrview::kCommandOpen;
using dlmgrview::kCommandResume;

void Register(DlmgrLibrary& lib, unsigned char id, int status) {
    const TaskRecord record = MakeTaskRecord(id, status);
    EXPECT_TRUE(lib.SetTaskInfo(&record));
}

// A host that changes the table step by step, each step on an event.
DLMGR_CHILD_SCENARIO(ChangeStepByStep) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    const std::string name = args.at(0);
    Register(lib, 1, DLMGR_STATUS_PAUSED);
    Register(lib, 2, DLMGR_STATUS_RUNNING);
    NamedEvent(name + "-registered").Signal();
    ASSERT_TRUE(NamedEvent(name + "-pause").Await());
    Register(lib, 2, DLMGR_STATUS_PAUSED);
    ASSERT_TRUE(NamedEvent(name + "-delete").Await());
    const TaskRecord first = MakeTaskRecord(1, 0);
    EXPECT_TRUE(lib.DeleteTask(&first.id));
    EXPECT_TRUE(NamedEvent(name + "-end").Await());
}

// A host with task 3 completed, its file missing, until "<name>-end".
DLMGR_CHILD_SCENARIO(KeepACompletedTask) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    Register(lib, 3, DLMGR_STATUS_COMPLETED);
    NamedEvent(args.at(0) + "-registered").Signal();
    EXPECT_TRUE(NamedEvent(args.at(0) + "-end").Await());
}

BOOL CALLBACK FindViewerWindow(HWND window, LPARAM search) {
    auto* found = reinterpret_cast<std::pair<DWORD, HWND>*>(search);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    if (processId != found->first || std::wstring(className) != L"DlmgrViewWindow") return TRUE;
    found->second = window;
    return FALSE;
}

// The viewer's window of that process, or null.
HWND ViewerWindowOf(DWORD processId) {
    std::pair<DWORD, HWND> found(processId, nullptr);
    ::EnumWindows(FindViewerWindow, reinterpret_cast<LPARAM>(&found));
    return found.second;
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteRegistryKey(HKEY_CURRENT_USER, kSettingsKeyPath);
        // The data folder the module and the viewer use, in this process and
        // the child's.
        ::SetEnvironmentVariableA("USERPROFILE", profile.path().c_str());
        dlmgrview::ViewerOptions options;
        options.rememberPlacement = false;
        options.confirm = [this](HWND, const std::wstring& question) {
            asked = question;
            return answer;
        };
        window = dlmgrview::CreateViewerWindow(::GetModuleHandleW(nullptr), options);
        ASSERT_NE(window, nullptr) << "error " << ::GetLastError();
        list = ::GetDlgItem(window, dlmgrview::kListId);
        tabs = ::GetDlgItem(window, dlmgrview::kTabsId);
        status = ::GetDlgItem(window, dlmgrview::kStatusId);
        messageLine = ::GetDlgItem(window, dlmgrview::kMessageId);
    }
    void TearDown() override {
        if (window != nullptr) ::DestroyWindow(window);
        DeleteRegistryKey(HKEY_CURRENT_USER, kSettingsKeyPath);
    }

    // Runs the window's messages until condition holds (a generous cap).
    bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000) {
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        for (;;) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            if (condition()) return true;
            if (::GetTickCount64() >= deadline) return false;
            ::Sleep(10);
        }
    }
    void ShowTab(int index) {
        TabCtrl_SetCurSel(tabs, index);
        NMHDR changed = {tabs, dlmgrview::kTabsId, static_cast<UINT>(TCN_SELCHANGE)};
        ::SendMessageW(window, WM_NOTIFY, dlmgrview::kTabsId, reinterpret_cast<LPARAM>(&changed));
    }
    int Rows() const { return ListView_GetItemCount(list); }
    std::wstring Cell(int row, int column) const {
        wchar_t text[600] = {};
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 600;
        ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return text;
    }
    std::wstring Status(int part) const {
        wchar_t text[600] = {};
        ::SendMessageW(status, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text));
        return text;
    }
    bool StatusSays(int part, const std::wstring& text) const {
        return Status(part).find(text) != std::wstring::npos;
    }
    std::wstring Message() const {
        wchar_t text[4096] = {};
        ::GetWindowTextW(messageLine, text, 4096);
        return text;
    }
    bool MessageSays(const std::wstring& text) const { return Message().find(text) != std::wstring::npos; }
    // The message line shows all its text: shown, scrolled to its start, its
    // last character within it.
    bool MessageShownWhole() const {
        const LONG_PTR style = ::GetWindowLongPtrW(messageLine, GWL_STYLE);
        const int length = ::GetWindowTextLengthW(messageLine);
        const LRESULT last = ::SendMessageW(messageLine, EM_POSFROMCHAR, length - 1, 0);
        RECT client = {};
        ::GetClientRect(messageLine, &client);
        TEXTMETRICW metrics = {};
        const HDC dc = ::GetDC(messageLine);
        const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(messageLine, WM_GETFONT, 0, 0)));
        ::GetTextMetricsW(dc, &metrics);
        ::SelectObject(dc, old);
        ::ReleaseDC(messageLine, dc);
        return (style & WS_VISIBLE) && length > 0 && last != -1 &&
               ::SendMessageW(messageLine, EM_GETFIRSTVISIBLELINE, 0, 0) == 0 &&
               static_cast<short>(LOWORD(last)) < client.right &&
               static_cast<short>(HIWORD(last)) + metrics.tmHeight <= client.bottom;
    }
    bool Enabled(WORD command) const {
        return ::SendMessageW(::GetDlgItem(window, dlmgrview::kToolbarId), TB_ISBUTTONENABLED, command, 0) != 0;
    }
    std::string Narrow(const std::wstring& text) const { return std::string(text.begin(), text.end()); }
    void Select(int row) {
        ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    void Command(WORD command) { ::SendMessageW(window, WM_COMMAND, command, 0); }

    TempFolder profile;
    HWND window = nullptr;
    HWND list = nullptr;
    HWND tabs = nullptr;
    HWND status = nullptr;
    HWND messageLine = nullptr;
    std::wstring asked;  // the last question the window asked
    bool answer = true;
};

TEST_F(ViewerTest, ListsFollowAnotherHostAndActionsSayWhy) {
    // Nobody has the table open: shown as stored, and nothing loaded.
    auto stored = EmptyStore();
    PutRecord(*stored, MakeTaskRecord(7, DLMGR_STATUS_RUNNING));
    PutRecord(*stored, MakeTaskRecord(8, DLMGR_STATUS_COMPLETED));
    const std::string folder = profile / "Application Data";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    ::CreateDirectoryA((folder + "\\p4p").c_str(), nullptr);
    const std::string dataFile = folder + "\\p4p\\dlmgr.dat";
    WriteStoreFile(dataFile, *stored);
    const std::string bytes = ReadWholeFile(dataFile);
    ASSERT_TRUE(PumpUntil([&] { return StatusSays(dlmgrview::kPartCounts, L"Running 1, stopped 1 (as stored)"); }))
        << "counts: " << std::string(Status(0).begin(), Status(0).end());
    EXPECT_TRUE(MessageSays(L"shown as stored"));
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, 2), L"0 running");
    // Acting would purge: the window says so before, and a no changes nothing.
    ShowTab(1);
    Select(0);
    EXPECT_TRUE(Enabled(kCommandOpen));
    EXPECT_FALSE(Enabled(kCommandResume)) << "a completed task cannot be resumed";
    answer = false;
    Command(kCommandOpen);
    EXPECT_NE(asked.find(L"2 task(s) that are not paused will be dropped"), std::wstring::npos)
        << Narrow(asked);
    answer = true;
    ShowTab(0);
    EXPECT_EQ(::GetModuleHandleA("dlmgr.dll"), nullptr) << "looking loaded the module";
    EXPECT_TRUE(ReadWholeFile(dataFile) == bytes);

    // Another host starts (its start-up purges) and registers.
    const std::string name = UniqueName("viewer-steps");
    ChildProcess host = ChildProcess::Start("ChangeStepByStep", {name});
    ASSERT_TRUE(NamedEvent(name + "-registered").Await());
    ASSERT_TRUE(PumpUntil([&] { return StatusSays(dlmgrview::kPartCounts, L"Running 1, stopped 1") &&
                                       !StatusSays(dlmgrview::kPartCounts, L"as stored"); }));
    EXPECT_EQ(Cell(0, 0).substr(0, 8), L"02000000") << "the id as dlmgrctl shows it, shortened";
    EXPECT_EQ(Cell(0, 1), L"engine");
    EXPECT_EQ(Cell(0, 3), L"C:\\downloads\\file2.bin");

    NamedEvent(name + "-pause").Signal();
    ASSERT_TRUE(PumpUntil([&] { return Rows() == 0; })) << "task 2 left the running list";
    ShowTab(1);
    ASSERT_TRUE(PumpUntil([&] { return Rows() == 2; }));

    // Actions: a refusal in dlmgrctl's words; a deletion after asking.
    Select(0);
    Command(kCommandResume);
    EXPECT_TRUE(PumpUntil([&] { return MessageSays(L"no DLEngine setting in either key"); }))
        << Narrow(Message());
    // Whole at the default width and at a narrow one.
    for (int width : {900, 420}) {
        ::SetWindowPos(window, nullptr, 0, 0, width, 500, SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_TRUE(MessageShownWhole()) << width << " pixels wide: " << Narrow(Message());
    }
    Select(1);
    Command(kCommandDelete);
    EXPECT_TRUE(PumpUntil([&] { return Rows() == 1 && MessageSays(L"delete: done"); }));

    NamedEvent(name + "-delete").Signal();
    EXPECT_TRUE(PumpUntil([&] { return Rows() == 0; })) << "the other host's deletion";
    EXPECT_FALSE(MessageSays(L"delete: done")) << "said of a table that changed since";
    NamedEvent(name + "-end").Signal();
    EXPECT_EQ(host.Wait(), 0);
}

// The shell answers a missing file with a message box on the calling thread:
// neither dlmgrctl nor the viewer's worker may wait on it.
TEST_F(ViewerTest, OpeningAMissingFileReturnsAtOnceWithTheReason) {
    const std::string name = UniqueName("viewer-open");
    ChildProcess host = ChildProcess::Start("KeepACompletedTask", {name});
    ASSERT_TRUE(NamedEvent(name + "-registered").Await());
    const auto opened = RunProgram(ExecutableFolder() + "\\dlmgrctl.exe",
                                   {"open", "0300000000000000000000000000005a"}, {}, 10000);
    EXPECT_EQ(opened.exitCode, 1) << opened.output;
    EXPECT_NE(opened.output.find("C:\\downloads\\file3.bin could not be opened"), std::string::npos)
        << opened.output;

    ShowTab(1);
    ASSERT_TRUE(PumpUntil([&] { return Rows() == 1; }));
    Select(0);
    Command(kCommandOpen);
    EXPECT_TRUE(PumpUntil([&] { return MessageSays(L"file3.bin could not be opened"); }))
        << Narrow(Message());
    NamedEvent(name + "-end").Signal();
    EXPECT_EQ(host.Wait(), 0);
}

// dlmgrview.exe alone in a folder, without its DLL, while a host has the
// table open: it names itself and the SDK folder, and shows the table.
TEST_F(ViewerTest, WithoutItsLibraryTheProgramSaysWhichAndStillShowsTheTable) {
    const std::string name = UniqueName("viewer-alone");
    ChildProcess host = ChildProcess::Start("ChangeStepByStep", {name});
    ASSERT_TRUE(NamedEvent(name + "-registered").Await());
    TempFolder alone;
    CopyFileTo(ExecutableFolder() + "\\dlmgrview.exe", alone / "dlmgrview.exe");
    std::string line = "\"" + alone / "dlmgrview.exe" + "\" --exit-after 30";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &info));
    const UniqueProcess viewer(info.hProcess);
    const UniqueThread viewerThread(info.hThread);
    HWND shown = nullptr;
    wchar_t said[1024] = {};
    const std::wstring missing = sizeof(void*) == 4
        ? L"dlmgr.dll (32-bit) not found beside dlmgrview.exe: copy it there from the SDK's bin\\"
        : L"dlmgr.dll (64-bit) not found beside dlmgrview.exe: copy it there from the SDK's bin\\x64\\";
    EXPECT_TRUE(WaitUntil([&] {
        shown = ViewerWindowOf(info.dwProcessId);
        return shown != nullptr &&
               // Sent, not GetWindowText: of another process's control that
               // gives only the text it was created with.
               ::SendMessageW(::GetDlgItem(shown, dlmgrview::kMessageId), WM_GETTEXT, 1024,
                              reinterpret_cast<LPARAM>(said)) > 0 &&
               std::wstring(said).find(missing) != std::wstring::npos;
    }, 10000)) << Narrow(said);
    EXPECT_EQ(ListView_GetItemCount(::GetDlgItem(shown, dlmgrview::kListId)), 1) << "the running task";
    ::PostMessageW(shown, WM_CLOSE, 0, 0);
    EXPECT_EQ(::WaitForSingleObject(viewer.get(), 10000), WAIT_OBJECT_0);
    for (const char* step : {"-pause", "-delete", "-end"}) NamedEvent(name + step).Signal();
    EXPECT_EQ(host.Wait(), 0);
}

TEST_F(ViewerTest, RemembersItsSizeAndColumnWidths) {
    ::DestroyWindow(window);
    dlmgrview::ViewerOptions remembering;
    window = dlmgrview::CreateViewerWindow(::GetModuleHandleW(nullptr), remembering);
    ASSERT_NE(window, nullptr);
    ::SetWindowPos(window, nullptr, 40, 50, 700, 400, SWP_NOZORDER);
    ListView_SetColumnWidth(::GetDlgItem(window, dlmgrview::kListId), 3, 444);
    ::DestroyWindow(window);
    window = nullptr;
    const dlmgrview::ViewerPlacement placement = dlmgrview::LoadPlacement();
    EXPECT_EQ(placement.window.right - placement.window.left, 700);
    EXPECT_EQ(placement.window.bottom - placement.window.top, 400);
    EXPECT_EQ(placement.columns[3], 444) << "at 96 dots per inch, the tests' display";
}

}  // namespace
}  // namespace dlmgr::test
