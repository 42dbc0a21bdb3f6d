#include "tests/support/wait_diagnosis.h"

#include <windows.h>
#include <tlhelp32.h>

#include "log/log_sink.h"
#include "store/task_store.h"
#include "tests/support/child_process.h"
#include "tools/dlmgrctl/lock_report.h"
#include "win/unique_resource.h"

namespace dlmgr::test {

namespace {

std::string DescribeLock(const char* what, const char* name) {
    const dlmgrctl::LockReport report = dlmgrctl::ReadLockReport(name);
    std::string text = std::string(what) + ": ";
    if (!report.inUse) return text + "not in use\n";
    text += dlmgrctl::DescribeHolder(report) + "; lock count " + std::to_string(report.lockCount) +
            ", " + std::to_string(report.waiters) + " waiter(s), " +
            std::to_string(report.takeovers) + " takeover(s); recovery mutex " +
            dlmgrctl::DescribeRecoveryMutex(name) + "\n";
    return text;
}

bool IsOfTheSuite(const char* image) {
    static const char* const kPrograms[] = {"unit_tests.exe", "module_tests.exe", "dlmgrctl.exe",
                                            "recorder.exe", "dlmgr_bench.exe", "dlmgr_soak.exe"};
    for (const char* program : kPrograms) {
        if (::lstrcmpiA(image, program) == 0) return true;
    }
    return false;
}

std::string DescribeSuiteProcesses() {
    const UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    std::string text;
    if (!snapshot || !::Process32First(snapshot.get(), &entry)) return "processes: unknown\n";
    do {
        if (entry.th32ProcessID == ::GetCurrentProcessId() || !IsOfTheSuite(entry.szExeFile)) {
            continue;
        }
        text += "  " + std::string(entry.szExeFile) + " process " +
                std::to_string(entry.th32ProcessID) + ", started by " +
                std::to_string(entry.th32ParentProcessID) + "\n";
    } while (::Process32Next(snapshot.get(), &entry));
    return text.empty() ? "no other process of the suite alive\n"
                        : "other processes of the suite alive (this one is " +
                              std::to_string(::GetCurrentProcessId()) + "):\n" + text;
}

}  // namespace

std::string DescribeWhatWasRunning() {
    return DescribeChildren() + DescribeLock("store lock", kStoreLockName) +
           DescribeLock("log lock", kLogLockName) + DescribeSuiteProcesses();
}

}  // namespace dlmgr::test
