#include "tests/support/dlmgr_library.h"

#include "tests/support/temp_folder.h"

namespace dlmgr::test {

std::string DlmgrDllPath() { return ExecutableFolder() + "\\dlmgr.dll"; }

std::string ReleasedDllPath(const std::string& version) {
    return ExecutableFolder() + "\\releases\\" + version + "\\dlmgr.dll";
}

DlmgrLibrary::DlmgrLibrary() : DlmgrLibrary(DlmgrDllPath()) {}

DlmgrLibrary::DlmgrLibrary(const std::string& path) {
    module_ = ::LoadLibraryA(path.c_str());
    if (module_ == nullptr) {
        loadError_ = ::GetLastError();
        return;
    }
    Resolve(module_);
}

DlmgrLibrary::~DlmgrLibrary() {
    if (module_ != nullptr) ::FreeLibrary(module_);
}

}  // namespace dlmgr::test
