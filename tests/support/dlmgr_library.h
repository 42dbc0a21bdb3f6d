// dlmgr.dll loaded at run time, as a host would, for tests that must choose
// which processes map the store.
#pragma once

#include <windows.h>

#include <string>

#include "dlmgr.h"

namespace dlmgr::test {

class DlmgrLibrary {
public:
    // Loads the dlmgr.dll built beside this executable.
    DlmgrLibrary();
    ~DlmgrLibrary();
    DlmgrLibrary(const DlmgrLibrary&) = delete;
    DlmgrLibrary& operator=(const DlmgrLibrary&) = delete;

    bool loaded() const { return module_ != nullptr; }
    DWORD loadError() const { return loadError_; }

    decltype(&::DM_SetTaskInfo) SetTaskInfo = nullptr;
    decltype(&::DM_GetTimeStamp) GetTimeStamp = nullptr;
    decltype(&::DM_GetTaskCount) GetTaskCount = nullptr;
    decltype(&::DM_GetTaskInfo) GetTaskInfo = nullptr;
    decltype(&::DM_GetLastError) GetLastError = nullptr;
    decltype(&::DM_OpenTaskFile) OpenTaskFile = nullptr;
    decltype(&::DM_ResumeTask) ResumeTask = nullptr;
    decltype(&::DM_DownloadAgain) DownloadAgain = nullptr;
    decltype(&::DM_DeleteTask) DeleteTask = nullptr;
    decltype(&::DM_PauseTask) PauseTask = nullptr;

private:
    HMODULE module_ = nullptr;
    DWORD loadError_ = 0;
};

std::string DlmgrDllPath();

}  // namespace dlmgr::test
