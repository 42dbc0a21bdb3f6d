#include "tests/support/dlmgr_library.h"

#include "tests/support/temp_folder.h"

namespace dlmgr::test {

namespace {

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

std::string DlmgrDllPath() { return ExecutableFolder() + "\\dlmgr.dll"; }

DlmgrLibrary::DlmgrLibrary() {
    module_ = ::LoadLibraryA(DlmgrDllPath().c_str());
    if (module_ == nullptr) {
        loadError_ = ::GetLastError();
        return;
    }
    Resolve(module_, "DM_SetTaskInfo", SetTaskInfo);
    Resolve(module_, "DM_GetTimeStamp", GetTimeStamp);
    Resolve(module_, "DM_GetTaskCount", GetTaskCount);
    Resolve(module_, "DM_GetTaskInfo", GetTaskInfo);
    Resolve(module_, "DM_GetLastError", GetLastError);
    Resolve(module_, "DM_OpenTaskFile", OpenTaskFile);
    Resolve(module_, "DM_ResumeTask", ResumeTask);
    Resolve(module_, "DM_DownloadAgain", DownloadAgain);
    Resolve(module_, "DM_DeleteTask", DeleteTask);
    Resolve(module_, "DM_PauseTask", PauseTask);
}

DlmgrLibrary::~DlmgrLibrary() {
    if (module_ != nullptr) ::FreeLibrary(module_);
}

}  // namespace dlmgr::test
