// The change of the task table under way, kept beside dlmgr.dat in a small
// file of its own (dlmgr.intent), mapped like the table, so that a change a
// death cut short (even the death of every process at once) is completed by
// the next process that takes the store. dlmgr.dat keeps its layout: a build
// that knows nothing of this file still sees a valid table.
//
// Fixed-width fields only: 32- and 64-bit processes map the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dlmgr.h"

namespace dlmgr {

constexpr char kIntentFileName[] = "dlmgr.intent";
constexpr char kIntentMappingName[] = "dlmgr_intent_filemapping";
constexpr std::uint32_t kIntentMagic = 0x31494D44;  // "DMI1": this layout
constexpr std::uint32_t kIntentTied = 0x54494D44;   // "DMIT": tableTimeStamp is set

enum IntentOperation : std::uint32_t {
    kIntentNone = 0,
    // RemoveTask: records index + 1 .. taskCount - 1 move down one slot, then
    // taskCount becomes taskCount - 1.
    kIntentRemove = 1,
    // UpdateTask: record is copied over slot index.
    kIntentOverwrite = 2,
};

// Written only under storeLock. A change is begun by filling the fields and
// then setting operation, and ended by clearing operation; every step in
// between can be redone from these fields alone, on the table they were
// written for: the header's counters and count when the change began tie
// the intent to it. A table changed since (by a build that knows no intent
// file, or restored from a copy) is never rolled forward onto.
struct StoreIntent {
    std::uint32_t magic;      // kIntentMagic; anything else: the file is (re)initialised
    std::uint32_t operation;  // IntentOperation
    std::uint32_t index;      // the slot the change is about
    std::uint32_t taskCount;  // taskCount when the change began
    std::uint32_t progress;   // removal: slots below this one hold their final records
    std::uint32_t tableTimeStamp[2];  // the header's counters when the change began
    std::uint32_t tied;       // kIntentTied: the fields above describe the table; else an older intent
    TaskRecord record;        // overwrite: the new record
};

static_assert(offsetof(StoreIntent, magic) == 0, "intent layout");
static_assert(offsetof(StoreIntent, operation) == 4, "intent layout");
static_assert(offsetof(StoreIntent, index) == 8, "intent layout");
static_assert(offsetof(StoreIntent, taskCount) == 12, "intent layout");
static_assert(offsetof(StoreIntent, progress) == 16, "intent layout");
static_assert(offsetof(StoreIntent, tableTimeStamp) == 20, "intent layout");
static_assert(offsetof(StoreIntent, tied) == 28, "intent layout");
static_assert(offsetof(StoreIntent, record) == 32, "intent layout");
static_assert(sizeof(StoreIntent) == 32 + sizeof(TaskRecord), "intent layout");

}  // namespace dlmgr
