// dlmgr.dll loaded at run time, as a host would, for tests that must choose
// which processes map the store.
#pragma once

#include <windows.h>

#include <string>

#include "dlmgr.h"
#include "tools/common/dlmgr_exports.h"

namespace dlmgr::test {

class DlmgrLibrary : public DlmgrExports {
public:
    // Loads the dlmgr.dll built beside this executable.
    DlmgrLibrary();
    // Loads the dlmgr.dll at path (a released build's).
    explicit DlmgrLibrary(const std::string& path);
    ~DlmgrLibrary();
    DlmgrLibrary(const DlmgrLibrary&) = delete;
    DlmgrLibrary& operator=(const DlmgrLibrary&) = delete;

    bool loaded() const { return module_ != nullptr; }
    DWORD loadError() const { return loadError_; }

private:
    HMODULE module_ = nullptr;
    DWORD loadError_ = 0;
};

std::string DlmgrDllPath();
// The dlmgr.dll of a release built from its commit (tests/releases.txt);
// absent when this checkout holds no history.
std::string ReleasedDllPath(const std::string& version);

}  // namespace dlmgr::test
