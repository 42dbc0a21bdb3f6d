// Stands in for the download engine, the torrent client and a file's
// associated program: appends its own command line, as received, to
// "<its path>.log" and ends.
#include <windows.h>

#include <cstring>

#include "win/unique_resource.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char logPath[MAX_PATH + 8];
    const DWORD length = ::GetModuleFileNameA(nullptr, logPath, MAX_PATH);
    std::strcpy(logPath + length, ".log");
    dlmgr::UniqueFile file(::CreateFileA(logPath, FILE_APPEND_DATA,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    const char* commandLine = ::GetCommandLineA();
    DWORD written = 0;
    ::WriteFile(file.get(), commandLine, static_cast<DWORD>(std::strlen(commandLine)), &written,
                nullptr);
    ::WriteFile(file.get(), "\r\n", 2, &written, nullptr);
    return 0;
}
