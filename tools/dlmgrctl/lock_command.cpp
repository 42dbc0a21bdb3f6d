#include <windows.h>

#include <cstdio>
#include <string>

#include "store/task_store.h"
#include "sync/optex.h"
#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/options.h"
#include "win/unique_resource.h"

namespace dlmgrctl {

namespace {

// The image path of the process that runs a thread, or an empty text.
std::string ProcessOfThread(DWORD threadId, DWORD& processId) {
    processId = 0;
    dlmgr::UniqueThread thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId));
    if (!thread) return "";
    processId = ::GetProcessIdOfThread(thread.get());
    dlmgr::UniqueProcess process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return "";
    char image[MAX_PATH] = {};
    DWORD size = sizeof(image);
    if (!::QueryFullProcessImageNameA(process.get(), 0, image, &size)) image[0] = '\0';
    return image;
}

}  // namespace

int RunLock(const Words& words) {
    const Options options(words, {}, {});
    options.AtMostPositionals(0);
    // Read-only: looking must never change the lock.
    const std::string name = std::string(dlmgr::Optex::kMappingPrefix) + dlmgr::kStoreLockName;
    dlmgr::UniqueMapping mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()));
    if (!mapping) {
        std::printf("store lock: not in use (no process has the module loaded)\n");
        return kExitDone;
    }
    dlmgr::UniqueView view(
        ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, sizeof(dlmgr::OptexShared)));
    if (!view) {
        std::fprintf(stderr, "dlmgrctl: cannot read the store lock\n");
        return kExitRefused;
    }
    const auto* shared = static_cast<const dlmgr::OptexShared*>(view.get());
    const dlmgr::OptexShared snapshot = {shared->spinCount, shared->lockCount,
                                         shared->ownerThreadId, shared->recursionCount};

    std::printf("store lock %s\n", dlmgr::kStoreLockName);
    if (snapshot.lockCount == 0) {
        std::printf("  free (spin count %ld)\n", snapshot.spinCount);
        return kExitDone;
    }
    const LONG waiters = snapshot.lockCount - snapshot.recursionCount;
    std::printf("  held by thread %ld, %ld level(s), %ld waiter(s), lock count %ld, spin count %ld\n",
                snapshot.ownerThreadId, snapshot.recursionCount, waiters > 0 ? waiters : 0,
                snapshot.lockCount, snapshot.spinCount);
    DWORD processId = 0;
    const std::string image = ProcessOfThread(static_cast<DWORD>(snapshot.ownerThreadId), processId);
    if (processId != 0) {
        std::printf("  owner process %lu %s\n", processId, image.c_str());
    } else if (snapshot.ownerThreadId != 0) {
        std::printf("  owner thread no longer exists: the lock was abandoned\n");
    }
    return kExitDone;
}

}  // namespace dlmgrctl
