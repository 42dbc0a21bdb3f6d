#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dlmgr.h"
#include "log/log_line.h"
#include "module/data_directory.h"
#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/log_gloss.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/settings_view.h"
#include "tools/dlmgrctl/table_reader.h"
#include "win/unique_resource.h"

namespace dlmgrctl {

namespace {

constexpr UINT kLogCodePage = 936;  // the library writes its messages in GBK

volatile LONG stopRequested = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
    ::InterlockedExchange(&stopRequested, 1);
    return TRUE;
}

std::string LogPath() {
    const SettingValue setting = ReadSetting(*FindSetting("DlmgrLogFileName"));
    if (setting.source != SettingSource::kNone) return setting.text;
    char directory[dlmgr::kPathBufferSize];
    dlmgr::FindDataDirectory(directory);
    return std::string(directory) + "\\dlmgr.log";
}

std::wstring Decode(const std::string& text, UINT codePage) {
    if (text.empty()) return L"";
    const int length = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

// The log writes a task id as four little-endian words; list shows its bytes
// in memory order. A value of 32 hex digits is shown as list shows it, so that
// an id copied from one is found in the other.
std::string InListOrder(const std::string& value) {
    if (value.size() != 32 || value.find_first_not_of("0123456789abcdef") != std::string::npos) {
        return value;
    }
    std::string id;
    for (size_t word = 0; word < 32; word += 8) {
        for (size_t byte = 8; byte > 0; byte -= 2) id += value.substr(word + byte - 2, 2);
    }
    return id;
}

// One line as it is shown: the library's messages are code page 936, the
// task text put into them is the system's code page, as hosts store it.
std::wstring ShownLine(const std::string& line, bool english) {
    LogMessage parsed;
    if (line.size() <= dlmgr::kLogStampLength ||
        !ParseLogMessage(line.substr(dlmgr::kLogStampLength), parsed)) {
        return Decode(line, kLogCodePage);
    }
    for (std::string& value : parsed.values) value = InListOrder(value);
    std::wstring shown = Decode(line.substr(0, dlmgr::kLogStampLength), kLogCodePage);
    std::string literal;
    size_t next = 0;
    for (const char* c = parsed.format; *c != '\0'; ++c) {
        if (*c != '%') {
            literal += *c;
            continue;
        }
        if (c[1] == 'l') ++c;
        ++c;
        shown += Decode(literal, kLogCodePage) + Decode(parsed.values[next++], CP_ACP);
        literal.clear();
    }
    shown += Decode(literal, kLogCodePage);
    if (english) shown += L"  [" + Decode(EnglishOf(parsed), CP_ACP) + L"]";
    return shown;
}

// Whole lines of the log as they are shown, each ending as in the file.
std::wstring Shown(const std::string& text, bool english) {
    std::wstring shown;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        end = end == std::string::npos ? text.size() : end;
        shown += ShownLine(text.substr(start, end - start), english);
        shown += text.compare(end, 2, "\r\n") == 0 ? L"\r\n" : L"";
        start = end + 2;
    }
    return shown;
}

// Wide characters to a console; bytes in the console's code page (or UTF-8,
// when asked) otherwise.
void Print(const std::wstring& wide, bool utf8) {
    if (wide.empty()) return;
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    std::fflush(stdout);
    if (!utf8 && ::GetConsoleMode(output, &mode)) {
        DWORD written = 0;
        ::WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const UINT codePage = utf8 || ::GetConsoleOutputCP() == 0 ? CP_UTF8 : ::GetConsoleOutputCP();
    const int wideLength = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(codePage, 0, wide.data(), wideLength, nullptr, 0,
                                             nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, 0, wide.data(), wideLength, &bytes[0], length, nullptr, nullptr);
    // As they are: the log's lines already end in CR LF, which stdout's text
    // mode would turn into CR CR LF.
    DWORD written = 0;
    ::WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Appends what the file holds beyond offset, up to its last whole line.
bool ReadFrom(const std::string& path, long long& offset, std::string& text) {
    dlmgr::UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER position;
    position.QuadPart = offset;
    ::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN);
    char chunk[65536];
    DWORD read = 0;
    std::string bytes;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    const size_t end = bytes.rfind('\n');
    if (end == std::string::npos) return true;
    text = bytes.substr(0, end + 1);
    offset += static_cast<long long>(end + 1);
    return true;
}

}  // namespace

int RunLog(const Words& words) {
    const Options options(words, {}, {"follow", "utf8", "english"});
    options.AtMostPositionals(0);
    const bool utf8 = options.Has("utf8");
    // Beside each message unless the console reads the log's own code page.
    const bool english = options.Has("english") || ::GetConsoleOutputCP() != kLogCodePage;
    const auto show = [&](const std::string& text) { Print(Shown(text, english), utf8); };
    const std::string path = LogPath();
    std::printf("log: %s\n", path.c_str());
    long long offset = 0;
    std::string text;
    if (!ReadFrom(path, offset, text) && !options.Has("follow")) {
        std::printf("no log yet: by default the library logs only failed assertions, takeovers "
                    "and repairs; for every step: dlmgrctl config set DlmgrLogLevel 0\n");
        return kExitDone;
    }
    show(text);
    if (!options.Has("follow")) return kExitDone;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    while (!stopRequested) {
        ::Sleep(250);
        text.clear();
        if (ReadFrom(path, offset, text)) show(text);
    }
    return kExitDone;
}

int RunHold(const Words& words) {
    const Options options(words, {"seconds"}, {});
    options.AtMostPositionals(0);
    const long seconds = options.Number("seconds", 10, 0, 3600);
    SayWhatTheLoadPurged();
    // Counted, not yet copied: the store stays held, as by a host that lists.
    const unsigned count = DM_GetTaskCount(DLMGR_CATEGORY_RUNNING);
    std::printf("holding the task store for %ld s\n", seconds);
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(seconds) * 1000);
    std::vector<TaskRecord> copy(count + 1);
    DM_GetTaskInfo(copy.data());
    std::printf("released\n");
    return kExitDone;
}

int RunHost(const Words& words) {
    const Options options(words, {"seconds"}, {});
    options.AtMostPositionals(0);
    const long seconds = options.Number("seconds", 0, 0, 86400);
    SayWhatTheLoadPurged();  // loaded: its start-up has mapped the table
    std::printf("keeping the table open as a host does, %s\n",
                seconds == 0 ? "until Ctrl+C" : ("for " + std::to_string(seconds) + " s").c_str());
    std::fflush(stdout);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (!stopRequested && (seconds == 0 || ::GetTickCount64() < end)) ::Sleep(100);
    return kExitDone;
}

}  // namespace dlmgrctl
