// The ten exports of a dlmgr.dll loaded at run time, for programs that choose
// when (and which) library to load: the benchmark, the soak and the tests.
#pragma once

#include <windows.h>

#include "dlmgr.h"

namespace dlmgr {

struct DlmgrExports {
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

    // Resolves every export of module; false when one is missing.
    bool Resolve(HMODULE module) {
        return Resolve(module, "DM_SetTaskInfo", SetTaskInfo) &
               Resolve(module, "DM_GetTimeStamp", GetTimeStamp) &
               Resolve(module, "DM_GetTaskCount", GetTaskCount) &
               Resolve(module, "DM_GetTaskInfo", GetTaskInfo) &
               Resolve(module, "DM_GetLastError", GetLastError) &
               Resolve(module, "DM_OpenTaskFile", OpenTaskFile) &
               Resolve(module, "DM_ResumeTask", ResumeTask) &
               Resolve(module, "DM_DownloadAgain", DownloadAgain) &
               Resolve(module, "DM_DeleteTask", DeleteTask) &
               Resolve(module, "DM_PauseTask", PauseTask);
    }

private:
    template <typename Function>
    static bool Resolve(HMODULE module, const char* name, Function& function) {
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
        return function != nullptr;
    }
};

}  // namespace dlmgr
