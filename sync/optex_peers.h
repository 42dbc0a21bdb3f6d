// Who else has a lock open, told by handle counts: every Optex of this build
// that keeps records holds one handle of the lock's 16-byte block and one of
// its peers' event, which nothing else opens (our tools included); a thread
// of ours without a record holds one more handle of the block (its marker).
// A handle of the block beyond those is a thread that keeps no record of
// ours: one of an earlier build, of another generation, a marker, or another
// program that opened the block. Handles that cannot write the block are
// nobody's levels: where the counts do not add up, the system's table of
// handles is asked which of them those are.
//
// Counts are read block, event, block: a process that opens both between
// the reads cannot hide a peer. A dying process's handles close in no set
// order: callers look twice, a slice apart, before they act.
#pragma once

#include <windows.h>

#include "win/handle_count.h"
#include "win/handle_table.h"
#include "win/unique_resource.h"

namespace dlmgr {

class OlderGenerations;

class OptexPeers {
public:
    static constexpr char kPrefix[] = "Dlmgr_Optex4_Peers_";

    // block is the lock's 16-byte block (not owned). False when the event
    // could not be had or counts cannot be read: then nobody is known.
    bool Open(const char* lockName, HANDLE block) noexcept;
    void Close() noexcept;

    // Every thread with the lock open keeps a record of ours, but for the
    // caller's own marker (ownMarker).
    bool OnlyOurs(ULONG ownMarker) const noexcept;
    // Or of a released robust generation (older), none of which writes the
    // owner field but by compare-exchange.
    bool OnlyRobust(ULONG ownMarker, const OlderGenerations& older) const noexcept;
    // Processes that hold the block for writing, other than this one, at
    // most max of them: those that may keep no record of ours, for a line
    // of the log. The count found, or 0 when the system does not tell.
    int Writers(DWORD* processIds, int max) const noexcept;

private:
    // Handles of the block that may stand for levels, beyond ours of the
    // peers' event: false when they cannot be counted.
    bool Unexplained(LONG& beyond) const noexcept;

    HANDLE block_ = nullptr;
    UniqueEvent peers_;
    HandleCounter counter_;
    HandleTable table_;
};

}  // namespace dlmgr
