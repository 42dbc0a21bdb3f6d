// The benchmark's other processes: it re-runs itself with "--child ROLE" to
// hold or wait for the store, to contend for it, and to measure with a
// private profile. Processes meet through named events; every wait is bounded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "dlmgr.h"
#include "tools/common/dlmgr_exports.h"
#include "win/unique_resource.h"

namespace bench {

constexpr DWORD kChildTimeoutMs = 60000;

// The dlmgr.dll beside the benchmark, loaded and resolved.
struct Exports : dlmgr::DlmgrExports {
    HMODULE module = nullptr;
    bool Load();
};

TaskRecord BenchTask(unsigned number, int status);

class Child {
public:
    Child() = default;
    Child(Child&&) = default;
    ~Child();
    // Runs this executable with "--child role args..."; environment as ours.
    static Child Start(const std::vector<std::string>& roleAndArgs);
    HANDLE handle() const { return process_.get(); }
    void Kill();
    bool Wait(DWORD timeoutMs = kChildTimeoutMs);

private:
    dlmgr::UniqueProcess process_;
    dlmgr::UniqueThread thread_;
};

class Event {
public:
    explicit Event(const std::string& name)
        : event_(::CreateEventA(nullptr, TRUE, FALSE, name.c_str())) {}
    void Signal() const { ::SetEvent(event_.get()); }
    bool Wait(DWORD timeoutMs = kChildTimeoutMs) const {
        return ::WaitForSingleObject(event_.get(), timeoutMs) == WAIT_OBJECT_0;
    }

private:
    dlmgr::UniqueEvent event_;
};

// Runs the role named on the command line; false when this is not a child.
bool RunChildRole(int argc, char** argv, int& exitCode);

}  // namespace bench
