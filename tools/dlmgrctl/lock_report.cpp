#include "tools/dlmgrctl/lock_report.h"

#include <cstdio>

#include "store/task_store.h"
#include "sync/older_generations.h"
#include "sync/optex.h"
#include "sync/optex_census.h"
#include "sync/thread_identity.h"
#include "win/handle_count.h"
#include "win/tick_count.h"
#include "win/unique_resource.h"

namespace dlmgrctl {

namespace {

dlmgr::UniqueView MapForReading(dlmgr::UniqueMapping& mapping, const std::string& name,
                                size_t size) {
    mapping.reset(::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()));
    return dlmgr::UniqueView(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, size)
                                     : nullptr);
}

std::string ProgramOf(DWORD processId) {
    dlmgr::UniqueProcess process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return "";
    char image[MAX_PATH] = {};
    DWORD size = sizeof(image);
    return ::QueryFullProcessImageNameA(process.get(), 0, image, &size) ? image : "";
}

DWORD ProcessOfThread(DWORD threadId) {
    dlmgr::UniqueThread thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId));
    return thread ? ::GetProcessIdOfThread(thread.get()) : 0;
}

// Resolved before main: the thread that watches a waiting command must never
// take the loader lock, which the command's thread holds while the module's
// start-up waits for the store.
struct ResolvedCounter {
    ResolvedCounter() { counter.Resolve(); }
    dlmgr::HandleCounter counter;
} resolvedCounter;

// NtQueryMutant's basic information: the state of a mutex without taking it.
struct MutantBasicInformation {
    LONG currentCount;  // 1: free; 0 or less: held
    BOOLEAN ownedByCaller;
    BOOLEAN abandoned;
};
// Its owner information (Windows 8 on): the owning thread's client id.
struct MutantOwnerInformation {
    HANDLE processId;
    HANDLE threadId;
};
constexpr int kMutantBasicInformation = 0;
constexpr int kMutantOwnerInformation = 1;
using QueryMutant = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
constexpr DWORD kMutantQueryState = 0x0001;

// Resolved before main too, for the same reason.
const QueryMutant queryMutant = reinterpret_cast<QueryMutant>(reinterpret_cast<void*>(
    ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryMutant")));

dlmgr::UniqueMutex OpenRecoveryMutex(const char* lockName) {
    return dlmgr::UniqueMutex(::OpenMutexA(
        kMutantQueryState, FALSE, (dlmgr::Optex::kRecoveryPrefix + std::string(lockName)).c_str()));
}

bool QueryBasic(const dlmgr::UniqueMutex& mutex, MutantBasicInformation& info) {
    return queryMutant != nullptr &&
           queryMutant(mutex.get(), kMutantBasicInformation, &info, sizeof(info), nullptr) >= 0;
}

// Processes with a live thread recorded in a released generation's side
// block, read without opening its recovery mutex (which its peers count).
long CountOlderProcesses(const std::string& lockName) {
    dlmgr::UniqueMapping mapping;
    const dlmgr::UniqueView view = MapForReading(
        mapping, dlmgr::OlderGenerations::kSidePrefix + lockName, sizeof(dlmgr::OptexSideBlock));
    const auto* side = static_cast<const dlmgr::OptexSideBlock*>(view.get());
    if (side == nullptr || side->magic != dlmgr::OlderGenerations::kSideMagic) return 0;
    DWORD seen[dlmgr::kOptexSlotCount] = {};
    long count = 0;
    for (const dlmgr::OptexThreadSlot& slot : side->slots) {
        const auto process = static_cast<DWORD>(slot.processId);
        if (slot.threadId == 0 || slot.state == dlmgr::kSlotUnclaimed || dlmgr::IsProvenDead(dlmgr::IdentityOf(slot))) {
            continue;
        }
        bool counted = false;
        for (long i = 0; i < count && !counted; ++i) counted = seen[i] == process;
        if (!counted) seen[count++] = process;
    }
    return count;
}

}  // namespace

LockReport ReadLockReport(const char* lockName) {
    LockReport report;
    const std::string name = lockName;
    dlmgr::UniqueMapping sharedMapping, sideMapping;
    const dlmgr::UniqueView sharedView = MapForReading(
        sharedMapping, dlmgr::Optex::kMappingPrefix + name, sizeof(dlmgr::OptexShared));
    if (!sharedView) return report;
    report.inUse = true;
    const auto* shared = static_cast<const dlmgr::OptexShared*>(sharedView.get());
    report.lockCount = shared->lockCount;
    report.spinCount = shared->spinCount;
    report.recursionCount = shared->recursionCount;
    report.ownerThreadId = static_cast<DWORD>(shared->ownerThreadId);
    if (report.lockCount == 0) report.ownerThreadId = 0;
    const long levels = report.ownerThreadId != 0 ? report.recursionCount : 0;
    report.waiters = report.lockCount > levels ? report.lockCount - levels : 0;

    // Our own handle to the block is matched by one to the peers' event,
    // which every instance of this generation that keeps records holds.
    const dlmgr::UniqueEvent peers(
        ::OpenEventA(SYNCHRONIZE, FALSE, (dlmgr::OptexPeers::kPrefix + name).c_str()));
    dlmgr::HandleCounter counter = resolvedCounter.counter;
    counter.Verify(sharedMapping.get());
    ULONG blockHandles = 0;
    ULONG recordingHandles = 0;
    if (peers && counter.Count(sharedMapping.get(), blockHandles) &&
        counter.Count(peers.get(), recordingHandles)) {
        report.usersWithoutRecords =
            static_cast<long>(blockHandles) - static_cast<long>(recordingHandles);
    }
    report.olderProcesses = CountOlderProcesses(name);

    const dlmgr::UniqueView sideView = MapForReading(
        sideMapping, dlmgr::Optex::kSidePrefix + name, sizeof(dlmgr::OptexSideBlock));
    const auto* side = static_cast<const dlmgr::OptexSideBlock*>(sideView.get());
    report.recorded = side != nullptr && side->magic == dlmgr::kOptexSideMagic;
    dlmgr::ThreadIdentity owner;
    owner.threadId = report.ownerThreadId;
    if (report.recorded) {
        report.takeovers = side->takeovers;
        report.possiblyLeft = side->possiblePhantoms;
        for (const dlmgr::OptexThreadSlot& slot : side->slots) {
            if (owner.threadId == 0 || slot.threadId != static_cast<LONG>(owner.threadId) ||
                !dlmgr::MayOwn(slot.state)) {
                continue;
            }
            owner = dlmgr::IdentityOf(slot);
            report.heldForMs = static_cast<long>(dlmgr::TickCountNow() - static_cast<DWORD>(slot.tick));
            break;
        }
    }
    if (report.ownerThreadId == 0) return report;
    report.ownerRuns = !dlmgr::IsProvenDead(owner);
    report.ownerProcessId = owner.processId != 0 ? owner.processId : ProcessOfThread(owner.threadId);
    if (report.ownerRuns && report.ownerProcessId != 0) report.program = ProgramOf(report.ownerProcessId);
    return report;
}

std::string DescribeRecoveryMutex(const char* lockName) {
    const dlmgr::UniqueMutex mutex = OpenRecoveryMutex(lockName);
    if (!mutex) return "absent";
    MutantBasicInformation info = {};
    if (!QueryBasic(mutex, info)) return "unknown";
    if (info.abandoned) return "abandoned by a thread that ended";
    return info.currentCount > 0 ? "free" : "held";
}

std::string RecoveryMutexKept(const char* lockName) {
    constexpr int kLooks = 11;  // a look every 100 ms for a second
    const dlmgr::UniqueMutex mutex = OpenRecoveryMutex(lockName);
    if (!mutex) return "";
    for (int look = 0; look < kLooks; ++look) {
        if (look > 0) ::Sleep(100);
        MutantBasicInformation info = {};
        if (!QueryBasic(mutex, info) || info.currentCount > 0 || info.abandoned) return "";
    }
    std::string text = "the recovery mutex " + std::string(dlmgr::Optex::kRecoveryPrefix) + lockName +
                       " has been kept for more than a second";
    MutantOwnerInformation owner = {};
    if (queryMutant(mutex.get(), kMutantOwnerInformation, &owner, sizeof(owner), nullptr) >= 0) {
        const auto process = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(owner.processId));
        const std::string program = ProgramOf(process);
        text += " by thread " + std::to_string(reinterpret_cast<ULONG_PTR>(owner.threadId)) +
                " of process " + std::to_string(process) + (program.empty() ? "" : " " + program);
    }
    return text + "; a host that dies holding the store is taken over without it, a little later";
}

bool ProcessWaitsForStore(DWORD processId) {
    dlmgr::UniqueMapping mapping;
    const dlmgr::UniqueView view =
        MapForReading(mapping, dlmgr::Optex::kSidePrefix + std::string(dlmgr::kStoreLockName),
                      sizeof(dlmgr::OptexSideBlock));
    const auto* side = static_cast<const dlmgr::OptexSideBlock*>(view.get());
    if (side == nullptr || side->magic != dlmgr::kOptexSideMagic) return false;
    for (const dlmgr::OptexThreadSlot& slot : side->slots) {
        if (slot.threadId != 0 && slot.processId == static_cast<LONG>(processId) &&
            (slot.state == dlmgr::kSlotWaiting || slot.state == dlmgr::kSlotAnnouncing ||
             slot.state == dlmgr::kSlotClaiming || slot.state == dlmgr::kSlotTakingOver)) {
            return true;
        }
    }
    return false;
}

std::string DescribeHolder(const LockReport& report) {
    if (report.ownerThreadId == 0) return report.lockCount == 0 ? "free" : "being handed over";
    std::string text = "held by thread " + std::to_string(report.ownerThreadId);
    if (report.ownerProcessId != 0) text += " of process " + std::to_string(report.ownerProcessId);
    if (!report.program.empty()) text += " " + report.program;
    if (report.heldForMs >= 0) {
        // Whole tenths by hand: a float conversion may load code, which a
        // thread inside the module's start-up (under the loader lock) blocks.
        text += " for " + std::to_string(report.heldForMs / 1000) + "." +
                std::to_string(report.heldForMs / 100 % 10) + " s";
    }
    if (!report.ownerRuns) {
        text += ", which has ended: the next process to use the store takes it over";
    }
    return text;
}

}  // namespace dlmgrctl
