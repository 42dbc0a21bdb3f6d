// The shared task table: a 16-byte header and room for 512 records, the
// content of dlmgr.dat and of the named mapping every process opens.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "dlmgr.h"

namespace dlmgr {

constexpr std::uint32_t kStoreMagic = 2;
constexpr std::uint32_t kMaxTasks = 512;
constexpr int kCategoryRunning = 0;
constexpr int kCategoryStopped = 1;

constexpr char kDataFileName[] = "dlmgr.dat";
constexpr char kStoreMappingName[] = "dlmgr_better_filemapping";
constexpr char kStoreLockName[] = "{61b8544c-7a70-4882-a787-a3bf449d4737}";
constexpr DWORD kStoreLockSpinCount = 4000;

// Every field below changes only while storeLock is held, except during the
// start-up initialisation and purge, which also take it.
struct StoreHeader {
    std::uint32_t magic;  // kStoreMagic once initialised; anything else means "initialise"
    // Change counters per category; wrap. Read without the store (a poll):
    // each is one aligned word, changed by a holder of the store with a
    // single release store after the records it announces are written, so
    // a value read is one the counter really had, and a host that sees it
    // move and then lists finds those records (AnnounceChange).
    std::uint32_t timeStamp[2];
    std::uint32_t taskCount;  // records in use, dense from index 0 in insertion order
};

struct StoreBlock {
    StoreHeader header;
    TaskRecord records[kMaxTasks];  // slots at or beyond taskCount hold stale bytes
};

static_assert(sizeof(StoreHeader) == 16, "header layout");
static_assert(offsetof(StoreHeader, magic) == 0, "header layout");
static_assert(offsetof(StoreHeader, timeStamp) == 4, "header layout");
static_assert(offsetof(StoreHeader, taskCount) == 12, "header layout");
static_assert(offsetof(StoreBlock, records) == 16, "records follow the header");
static_assert(sizeof(StoreBlock) == 569360, "16 + 512 * 1112 bytes");

constexpr DWORD kStoreBlockSize = sizeof(StoreBlock);

// Category of a status: 0 running, 1 stopped. A status outside 0..7 counts
// as stopped, so such a task can be listed and deleted like status 7.
inline int CategoryOfStatus(int status) {
    static constexpr int kCategoryOfStatus[8] = {0, 1, 1, 1, 0, 0, 0, 1};
    return status >= 0 && status < 8 ? kCategoryOfStatus[status] : kCategoryStopped;
}

// Any category other than 0 selects the stopped list.
inline int ReduceCategory(int category) {
    return category == 0 ? kCategoryRunning : kCategoryStopped;
}

// taskCount, never beyond the table: another process may have written
// anything into the shared block.
inline std::uint32_t TasksInUse(const StoreHeader& header) {
    return header.taskCount < kMaxTasks ? header.taskCount : kMaxTasks;
}

// Announces a change of a category's records, once they are written: one
// release store (only a holder of the store writes the counters).
inline void AnnounceChange(StoreHeader& header, int category) {
    std::uint32_t& counter = header.timeStamp[category];
    __atomic_store_n(&counter, counter + 1, __ATOMIC_RELEASE);
}

// The counter as a poll reads it, without the store.
inline std::uint32_t ReadChangeCounter(const StoreHeader& header, int category) {
    return __atomic_load_n(&header.timeStamp[category], __ATOMIC_ACQUIRE);
}

inline void InitialiseHeader(StoreHeader& header) {
    __atomic_store_n(&header.timeStamp[0], 0u, __ATOMIC_RELEASE);
    __atomic_store_n(&header.timeStamp[1], 0u, __ATOMIC_RELEASE);
    header.taskCount = 0;
    header.magic = kStoreMagic;
}

}  // namespace dlmgr
