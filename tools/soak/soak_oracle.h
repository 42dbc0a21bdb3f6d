// The soak's own shared memory: what every worker thread reports, and the
// holder mark that tells two live holders of the store apart from a dead one
// and its successor. Workers of both pointer sizes map it: fixed-width
// fields only, changed with Interlocked operations.
#pragma once

#include <windows.h>

#include <cstddef>

namespace soak {

constexpr LONG kOracleMagic = 0x4B414F53;  // "SOAK"
constexpr int kThreadsPerWorker = 2;
constexpr int kMaxWorkers = 32;
constexpr int kMaxSlots = kMaxWorkers * kThreadsPerWorker;

// A thread's state for the killer: it may be ended only while it waits in a
// sleep, never while it may hold a lock of the heap or the C runtime (its
// process would then hang in a way no library can recover from).
enum KillState : LONG { kBusy = 0, kKillable = 1, kBeingKilled = 2 };

struct ThreadSlot {
    LONG threadId;
    LONG processId;
    LONG generation;    // moves each time a new thread takes the slot
    LONG progressTick;  // GetTickCount at its last finished operation
    LONG killState;
    LONG pointerBits;   // 32 or 64
    LONG reserved[2];
};
static_assert(sizeof(ThreadSlot) == 32, "both pointer sizes share the slots");

struct Oracle {
    LONG magic;
    LONG stop;        // workers end when set
    LONG holderMark;  // MarkOf(slot, generation) of the thread between count and copy, or 0
    LONG violations;  // two live holders at once
    LONG listingFaults;
    LONG holds;
    LONG operations32;
    LONG operations64;
    LONG threadKills;
    LONG reserved[7];
    ThreadSlot slots[kMaxSlots];
    // How far each worker process got (a WorkerStage), and which process
    // that is: a worker that ends by itself is told from one that never ran.
    LONG stage[kMaxWorkers];
    LONG stageProcess[kMaxWorkers];
};
static_assert(offsetof(Oracle, slots) == 64, "both pointer sizes share the oracle");
static_assert(sizeof(Oracle) == 64 + kMaxSlots * 32 + kMaxWorkers * 8,
              "both pointer sizes share the oracle");

enum WorkerStage : LONG { kStageMapped = 1, kStageLoaded = 2, kStageRunning = 3 };

inline LONG MarkOf(int slot, LONG generation) {
    return static_cast<LONG>(((slot + 1) << 16) | (generation & 0xFFFF));
}

// True while the thread that wrote mark still runs: the same generation in
// its slot, and its thread, in its process, not ended.
bool MarkIsOfLiveThread(const Oracle& oracle, LONG mark);

}  // namespace soak
