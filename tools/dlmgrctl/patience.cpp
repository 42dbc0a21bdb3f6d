#include "tools/dlmgrctl/patience.h"

#include <windows.h>

#include <cstdio>

#include "tools/dlmgrctl/lock_report.h"
#include "tools/dlmgrctl/options.h"
#include "win/unique_resource.h"

namespace dlmgrctl {

namespace {

struct Job {
    std::function<int()> command;
    int exitCode = kExitRefused;
};

DWORD WINAPI RunJob(void* parameter) {
    auto* job = static_cast<Job*>(parameter);
    job->exitCode = job->command();
    return 0;
}

}  // namespace

int RunPatiently(const std::function<int()>& command, long timeoutSeconds) {
    Job job{command};
    dlmgr::UniqueThread thread(::CreateThread(nullptr, 0, RunJob, &job, 0, nullptr));
    if (!thread) return command();
    const DWORD self = ::GetCurrentProcessId();
    ULONGLONG waitingSince = 0;
    bool told = false;
    while (::WaitForSingleObject(thread.get(), 1000) != WAIT_OBJECT_0) {
        if (!ProcessWaitsForStore(self)) {
            waitingSince = 0;
            continue;
        }
        const ULONGLONG now = ::GetTickCount64();
        if (waitingSince == 0) waitingSince = now - 1000;  // it waited since the last look at most
        if (!told) {
            std::fprintf(stderr, "dlmgrctl: waiting for the task store, %s\n",
                         DescribeHolder(ReadStoreLockReport()).c_str());
            told = true;
        }
        if (timeoutSeconds >= 0 && now - waitingSince >= static_cast<ULONGLONG>(timeoutSeconds) * 1000) {
            std::fflush(stdout);
            std::fprintf(stderr, "dlmgrctl: gave up after %ld s waiting for the task store\n",
                         timeoutSeconds);
            std::fflush(stderr);
            // Not ExitProcess: it waits for the loader lock, which the
            // command's thread holds while the module's start-up waits for
            // the store. Our announcement in the lock is withdrawn by its
            // next user, as for any waiter that dies.
            ::TerminateProcess(::GetCurrentProcess(), kExitRefused);
        }
    }
    return job.exitCode;
}

}  // namespace dlmgrctl
