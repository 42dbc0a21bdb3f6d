// The robust lock's released generations (1.0.0 to 1.3.0), as this build
// sees them. They share the 16-byte block and the wake-up event with us, and
// keep their own records under names of their own ("Dlmgr_Optex_Side_",
// "Dlmgr_Optex_Recovery_"), with their own rules: to them a thread of ours
// keeps no record, and to us theirs keep none of ours. What every one of
// them does beside such a peer, and what we therefore do:
// - It claims the owner field only by compare-exchange, from 0 or from a
//   dead owner's id: a claim of ours beside it cannot make two owners, so we
//   may recover a lost wake-up beside it when no peer that writes the field
//   without a compare-exchange (an earlier build without records) is about
//   and none of its records is between two steps.
// - It takes over a dead owner that it has no record of (one of ours) by
//   compare-exchange, withdrawing what that owner held; one that it has a
//   record of it notes in that record before its compare-exchange, and
//   withdraws what it noted later, even when it lost: so when we take over
//   one of its dead owners we withdraw nothing and count its levels as
//   possibly left.
// - 1.0.0 judges a thread dead by the first record of its id that surely
//   owned, however old: a dead owner's record that we took over is marked
//   taken over, so that a live thread of ours given the same id is never
//   taken for it.
// - Its records of 1.0.0 and 1.1.0 do not write `life`, and none clears it:
//   a record is judged by its ids alone.
// We never open its recovery mutex but to count its handles, and then only
// while holding one more handle of the block than before, so that its own
// count of peers never takes our process for one that keeps its records.
#pragma once

#include <windows.h>

#include "sync/optex_side.h"
#include "win/handle_count.h"
#include "win/unique_resource.h"

namespace dlmgr {

class OlderGenerations {
public:
    static constexpr char kSidePrefix[] = "Dlmgr_Optex_Side_";
    static constexpr char kRecoveryPrefix[] = "Dlmgr_Optex_Recovery_";
    static constexpr LONG kSideMagic = 0x314F4D44;  // "DMO1"

    // A look at their side block as it is now; empty when none runs.
    explicit OlderGenerations(const char* lockName) noexcept;
    bool Present() const noexcept { return side_ != nullptr; }

    // How many instances of theirs keep records (their recovery mutex's
    // handles), or -1 when it cannot be told. block is one of our handles of
    // the 16-byte block.
    LONG Instances(HANDLE block, const HandleCounter& counter) const noexcept;
    // Whether a record of theirs names that thread as one that may own.
    bool HasOwnerRecord(LONG threadId) const noexcept;
    // Whether a live thread of theirs is between two steps (its share of
    // lockCount or a wake-up not settled yet), or releasing.
    bool AnyLiveMidStep() const noexcept;
    // After we took that dead thread's hold over: its records that surely
    // owned stop naming it.
    void MarkTakenOver(LONG threadId) const noexcept;

private:
    char recoveryName_[128] = {};
    UniqueMapping mapping_;
    UniqueView view_;
    OptexSideBlock* side_ = nullptr;
};

}  // namespace dlmgr
