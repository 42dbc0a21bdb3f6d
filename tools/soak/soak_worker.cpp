#include "tools/soak/soak_worker.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "dlmgr.h"
#include "tools/common/dlmgr_exports.h"
#include "tools/dlmgrctl/store_inspection.h"
#include "tools/soak/soak_oracle.h"
#include "tools/soak/soak_records.h"
#include "win/unique_resource.h"

namespace soak {

namespace {

struct Exports : dlmgr::DlmgrExports {
    bool Load(const std::string& path) {
        // Never freed: a thread ended by another may have left the module
        // mid-call, and the process ends right after its work.
        const HMODULE module = ::LoadLibraryA(path.c_str());
        return module != nullptr && Resolve(module);
    }
};

Exports exports;
Oracle* oracle = nullptr;
int workerIndex = 0;
HANDLE threads[kThreadsPerWorker] = {};  // ours; a killer replaces its victim's

struct Random {
    unsigned state;
    unsigned Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<unsigned>(n)); }
};

// A sleep during which the sibling thread may end this one.
void KillableSleep(ThreadSlot& slot, DWORD ms) {
    ::InterlockedExchange(&slot.killState, kKillable);
    ::Sleep(ms);
    if (::InterlockedCompareExchange(&slot.killState, kBusy, kKillable) != kKillable) {
        ::Sleep(INFINITE);  // the killer has committed: wait for it
    }
}

void Report(const char* what, const std::string& detail) {
    std::printf("soak worker %d (process %lu, thread %lu): %s: %s\n", workerIndex,
                ::GetCurrentProcessId(), ::GetCurrentThreadId(), what, detail.c_str());
    std::fflush(stdout);
}

// Count and copy of one category; hold > 0 keeps the store between the two
// for that many milliseconds, with this thread's mark in the oracle.
void List(ThreadSlot& slot, int slotIndex, int category, DWORD hold) {
    // One buffer per slot, never from the heap: a thread is ended only while
    // it sleeps, and its successor in the slot takes the buffer over.
    static TaskRecord buffers[kThreadsPerWorker][DLMGR_MAX_TASKS + 1];
    TaskRecord* const buffer = buffers[slotIndex % kThreadsPerWorker];
    const unsigned count = exports.GetTaskCount(category);
    const LONG mark = MarkOf(slotIndex, slot.generation);
    if (hold > 0) {
        ::InterlockedIncrement(&oracle->holds);
        const LONG found = ::InterlockedCompareExchange(&oracle->holderMark, mark, 0);
        if (found != 0) {
            if (MarkIsOfLiveThread(*oracle, found)) {
                ::InterlockedIncrement(&oracle->violations);
                Report("violation", "another live thread holds the store (mark " +
                                        std::to_string(found) + ")");
            }
            ::InterlockedExchange(&oracle->holderMark, mark);  // a dead holder's mark
        }
        KillableSleep(slot, hold);
        if (::InterlockedCompareExchange(&oracle->holderMark, 0, mark) != mark) {
            ::InterlockedIncrement(&oracle->violations);
            Report("violation", "another thread marked the store while this one held it");
        }
    }
    const unsigned copied = count > DLMGR_MAX_TASKS ? DLMGR_MAX_TASKS : count;
    FillGuard(buffer[copied]);
    exports.GetTaskInfo(buffer);
    const std::string fault = CheckListing(buffer, copied, category);
    if (!fault.empty()) {
        ::InterlockedIncrement(&oracle->listingFaults);
        Report("listing fault", fault);
    }
}

DWORD WINAPI WorkerThread(void* parameter);

// Ends the sibling if it sleeps where it may be ended, and starts another
// thread in its slot.
void EndSibling(int slotIndex) {
    const int sibling = slotIndex ^ 1;
    const int local = sibling % kThreadsPerWorker;
    ThreadSlot& victim = oracle->slots[sibling];
    if (::InterlockedCompareExchange(&victim.killState, kBeingKilled, kKillable) != kKillable) return;
    HANDLE handle = threads[local];
    ::TerminateThread(handle, 1);
    ::WaitForSingleObject(handle, INFINITE);
    dlmgr::UniqueThread ended(handle);
    ::InterlockedIncrement(&oracle->threadKills);
    threads[local] = ::CreateThread(nullptr, 0, WorkerThread,
                                    reinterpret_cast<void*>(static_cast<INT_PTR>(sibling)), 0,
                                    nullptr);
}

DWORD WINAPI WorkerThread(void* parameter) {
    const int slotIndex = static_cast<int>(reinterpret_cast<INT_PTR>(parameter));
    ThreadSlot& slot = oracle->slots[slotIndex];
    slot.threadId = static_cast<LONG>(::GetCurrentThreadId());
    slot.processId = static_cast<LONG>(::GetCurrentProcessId());
    slot.pointerBits = sizeof(void*) * 8;
    slot.progressTick = static_cast<LONG>(::GetTickCount());
    slot.killState = kBusy;
    ::InterlockedIncrement(&slot.generation);
    LONG* operations = sizeof(void*) == 4 ? &oracle->operations32 : &oracle->operations64;
    Random random{::GetTickCount() ^ (::GetCurrentThreadId() << 8) ^ 0x9E3779B9u};
    while (oracle->stop == 0) {
        const int id = 1 + random.Below(kIdRange);
        TaskRecord record;
        const int roll = random.Below(100);
        if (roll < 25) {
            static constexpr int kStatuses[] = {0, 1, 2, 3, 7};
            record = MakeRecord(id, kStatuses[random.Below(5)]);
            exports.SetTaskInfo(&record);
        } else if (roll < 35) {
            record = MakeRecord(id, 0);
            exports.DeleteTask(&record.id);
        } else if (roll < 43) {
            record = MakeRecord(id, DLMGR_STATUS_PAUSED);
            exports.PauseTask(&record.id);
            exports.SetTaskInfo(&record);
        } else if (roll < 63) {
            exports.GetTimeStamp(random.Below(2));
        } else if (roll < 80) {
            List(slot, slotIndex, random.Below(2), 0);
        } else if (roll < 95) {
            List(slot, slotIndex, random.Below(2), 1 + random.Below(3));
        } else if (roll < 97) {
            EndSibling(slotIndex);
        } else {
            KillableSleep(slot, 1 + random.Below(5));
        }
        slot.progressTick = static_cast<LONG>(::GetTickCount());
        ::InterlockedIncrement(operations);
    }
    return 0;
}

dlmgr::UniqueMapping OpenOracle(const std::string& name, Oracle*& mapped, dlmgr::UniqueView& view) {
    dlmgr::UniqueMapping mapping(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()));
    if (mapping) view.reset(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Oracle)));
    mapped = static_cast<Oracle*>(view.get());
    return mapping;
}

}  // namespace

bool MarkIsOfLiveThread(const Oracle& shared, LONG mark) {
    const int slotIndex = (mark >> 16) - 1;
    if (slotIndex < 0 || slotIndex >= kMaxSlots) return false;
    const ThreadSlot& slot = shared.slots[slotIndex];
    if ((slot.generation & 0xFFFF) != (mark & 0xFFFF)) return false;
    const dlmgr::UniqueThread thread(::OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION,
                                                  FALSE, static_cast<DWORD>(slot.threadId)));
    return thread && ::GetProcessIdOfThread(thread.get()) == static_cast<DWORD>(slot.processId) &&
           ::WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT;
}

int RunWorker(const std::string& oracleName, int index, const std::string& dllPath) {
    dlmgr::UniqueView view;
    const dlmgr::UniqueMapping mapping = OpenOracle(oracleName, oracle, view);
    if (oracle == nullptr || oracle->magic != kOracleMagic || index < 0 || index >= kMaxWorkers) {
        std::printf("soak worker %d: no oracle %s\n", index, oracleName.c_str());
        return 2;
    }
    workerIndex = index;
    ::InterlockedExchange(&oracle->stageProcess[index], static_cast<LONG>(::GetCurrentProcessId()));
    ::InterlockedExchange(&oracle->stage[index], kStageMapped);
    if (!exports.Load(dllPath)) {
        std::printf("soak worker %d: could not load %s (error %lu)\n", index, dllPath.c_str(),
                    ::GetLastError());
        return 2;
    }
    ::InterlockedExchange(&oracle->stage[index], kStageLoaded);
    // A slot's state may be left from a process killed while its thread slept:
    // nobody may end a thread of ours before both are known.
    for (int t = 0; t < kThreadsPerWorker; ++t) {
        ::InterlockedExchange(&oracle->slots[index * kThreadsPerWorker + t].killState, kBusy);
        threads[t] = ::CreateThread(nullptr, 0, WorkerThread,
                                    reinterpret_cast<void*>(static_cast<INT_PTR>(index * kThreadsPerWorker + t)),
                                    CREATE_SUSPENDED, nullptr);
    }
    for (HANDLE thread : threads) ::ResumeThread(thread);
    ::InterlockedExchange(&oracle->stage[index], kStageRunning);
    while (oracle->stop == 0) ::Sleep(50);
    // The threads finish their operation; one that hangs is the watchdog's.
    ::WaitForMultipleObjects(kThreadsPerWorker, threads, TRUE, 10000);
    return 0;
}

int RunFileCheck(const std::string& dllPath, const std::string& dataFile) {
    std::string bytes;
    {
        const dlmgr::UniqueFile file(::CreateFileA(dataFile.c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_EXISTING, 0, nullptr));
        char chunk[65536];
        DWORD read = 0;
        while (file && ::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
            bytes.append(chunk, read);
        }
    }
    const dlmgrctl::StoreReport stored = dlmgrctl::InspectStore(bytes);
    int faults = static_cast<int>(stored.problems.size());
    for (const std::string& problem : stored.problems) std::printf("file check: %s\n", problem.c_str());
    for (const TaskRecord& record : stored.records) {
        if (!IsWhole(record)) {
            std::printf("file check: a stored record is not whole\n");
            ++faults;
            break;
        }
    }
    std::printf("file check: %zu task(s) stored, %d problem(s)\n", stored.records.size(), faults);
    if (!exports.Load(dllPath)) {
        std::printf("file check: could not load %s (error %lu)\n", dllPath.c_str(), ::GetLastError());
        return 1;
    }
    for (int category = 0; category < 2; ++category) {
        static TaskRecord buffer[DLMGR_MAX_TASKS + 1];
        const unsigned count = exports.GetTaskCount(category);
        const unsigned copied = count > DLMGR_MAX_TASKS ? DLMGR_MAX_TASKS : count;
        FillGuard(buffer[copied]);
        exports.GetTaskInfo(buffer);
        const std::string fault = CheckListing(buffer, copied, category);
        std::printf("file check: category %d lists %u task(s) after loading%s%s\n", category, count,
                    fault.empty() ? "" : ": ", fault.c_str());
        if (!fault.empty()) ++faults;
    }
    return faults == 0 ? 0 : 1;
}

}  // namespace soak
