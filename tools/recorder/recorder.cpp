// Stands in for the download engine, the torrent client and a file's
// associated program: appends its own command line, as received, to
// "<its path>.log" and ends. Given "--register ID" (32 hex digits, as the log
// writes ids), it first behaves as an engine that reports its task at once:
// it loads the dlmgr.dll beside it and registers ID as running, before it
// has any window or message loop.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "dlmgr.h"
#include "win/unique_resource.h"

namespace {

void RecordCommandLine(const char* commandLine) {
    char logPath[MAX_PATH + 8];
    const DWORD length = ::GetModuleFileNameA(nullptr, logPath, MAX_PATH);
    std::strcpy(logPath + length, ".log");
    dlmgr::UniqueFile file(::CreateFileA(logPath, FILE_APPEND_DATA,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    ::WriteFile(file.get(), commandLine, static_cast<DWORD>(std::strlen(commandLine)), &written,
                nullptr);
    ::WriteFile(file.get(), "\r\n", 2, &written, nullptr);
}

bool RegisterAsEngine(const char* idText) {
    TaskRecord record = {};
    unsigned long words[4];
    if (std::sscanf(idText, "%8lx%8lx%8lx%8lx", &words[0], &words[1], &words[2], &words[3]) != 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        for (int b = 0; b < 4; ++b) record.id.bytes[i * 4 + b] = (words[i] >> (8 * b)) & 0xFF;
    }
    record.kind = DLMGR_KIND_ENGINE;
    record.status = DLMGR_STATUS_RUNNING;
    std::strcpy(record.filePath, "registered by the engine");
    HMODULE dll = ::LoadLibraryA("dlmgr.dll");
    if (dll == nullptr) return false;
    auto setTaskInfo = reinterpret_cast<decltype(&DM_SetTaskInfo)>(
        reinterpret_cast<void*>(::GetProcAddress(dll, "DM_SetTaskInfo")));
    const bool registered = setTaskInfo != nullptr && setTaskInfo(&record) == 1;
    ::FreeLibrary(dll);
    return registered;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* commandLine = ::GetCommandLineA();
    RecordCommandLine(commandLine);
    const char* option = std::strstr(commandLine, "--register ");
    if (option != nullptr && !RegisterAsEngine(option + std::strlen("--register "))) return 2;
    return 0;
}
