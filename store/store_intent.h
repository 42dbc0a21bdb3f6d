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
// tied: which checks the intent carries. An intent of another kind is
// dropped, never completed: its checks cannot be made, and a peer that does
// not know ours drops them the same way.
constexpr std::uint32_t kIntentTied = 0x54494D44;     // "DMIT": counters and count only (1.3.0)
constexpr std::uint32_t kIntentChecked = 0x43494D44;  // "DMIC": and the records the change is on

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
// between can be redone from these fields alone, on the exact records they
// were written for. A table changed since (by a build that knows no intent
// file and may have died in the middle of its own change, or restored from
// a copy) is never rolled forward onto.
struct StoreIntent {
    std::uint32_t magic;      // kIntentMagic; anything else: the file is (re)initialised
    std::uint32_t operation;  // IntentOperation
    std::uint32_t index;      // the slot the change is about
    // taskCount when the change began. A removal's guard against a build
    // without intent that appended and died before its counters moved:
    // rolling the removal forward would cut that task off.
    std::uint32_t taskCount;
    std::uint32_t progress;   // removal: slots below this one hold their final records
    // The header's counters when the change began. Guard against any change
    // made since that was finished, even one the checks below cannot see
    // (an update of the half-copied slot, which lookups find first).
    std::uint32_t tableTimeStamp[2];
    std::uint32_t tied;       // kIntentChecked: the checks below are there; else dropped
    union {
        // Overwrite: the new record. Its id guards the slot: a build without
        // intent that died moving records down may have put another task
        // there. The count is not compared: a change that moved it and not
        // the counters left either this task in the slot or another one.
        TaskRecord record;
        // Removal: FNV-1a (64 bits) of the ids of the records that move, in
        // order, taken when it began. Guards against a build without intent
        // that moved records and died before its counters moved.
        std::uint64_t movedChecksum;
    };
};

// A 1.3.0 peer maps sizeof(StoreIntent) of the same section: the size and
// the offsets stay.
static_assert(offsetof(StoreIntent, magic) == 0, "intent layout");
static_assert(offsetof(StoreIntent, operation) == 4, "intent layout");
static_assert(offsetof(StoreIntent, index) == 8, "intent layout");
static_assert(offsetof(StoreIntent, taskCount) == 12, "intent layout");
static_assert(offsetof(StoreIntent, progress) == 16, "intent layout");
static_assert(offsetof(StoreIntent, tableTimeStamp) == 20, "intent layout");
static_assert(offsetof(StoreIntent, tied) == 28, "intent layout");
static_assert(offsetof(StoreIntent, record) == 32, "intent layout");
static_assert(offsetof(StoreIntent, movedChecksum) == 32, "intent layout");
static_assert(sizeof(StoreIntent) == 32 + sizeof(TaskRecord), "intent layout");

}  // namespace dlmgr
