// What every copy of the module in one process shares for one lock: the TLS
// slots that point each thread at its record and at its marker, and the
// handles of the threads' life mutexes. Two copies of the DLL in one host
// (two plug-ins, each with its own) then see one thread as one thread: a
// level taken through one copy is recognised by the other, and a record is
// given back once. One small named mapping per process and lock.
//
// Attach and Detach run under the lock's recovery mutex.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "sync/optex_side.h"
#include "sync/thread_life.h"
#include "win/handle_name.h"
#include "win/unique_resource.h"

namespace dlmgr {

// One process's own bytes, by name; yet another program may have made the
// mapping first (it knows our process id) or written into it, so what it
// holds is checked before use: TLS indexes must be in range, and a handle
// value is closed only when it is, in this process, a life mutex of this lock.
struct OptexProcessBlock {
    volatile LONG users;      // Optex instances of this process attached
    volatile LONG slotTls;    // TLS index + 1: a thread's record (see Optex)
    volatile LONG markerTls;  // TLS index + 1: the marker of a thread with no record
    volatile LONG stamp;      // kProcessBlockStamp once a copy of this generation made it
    // By record: the life mutex of the thread of this process that claimed it.
    std::uint64_t lifeHandles[kOptexSlotCount];
};

constexpr LONG kProcessBlockStamp = 0x34584C44;  // "DLX4"

static_assert(offsetof(OptexProcessBlock, lifeHandles) == 16, "process block layout");

class OptexProcessShare {
public:
    static constexpr char kPrefix[] = "Dlmgr_Optex4_Process_";

    OptexProcessShare() = default;
    OptexProcessShare(const OptexProcessShare&) = delete;
    OptexProcessShare& operator=(const OptexProcessShare&) = delete;
    ~OptexProcessShare() { Detach(); }

    // False when the block or a TLS slot could not be had, or when the block
    // holds what no copy of the module would have written there.
    bool Attach(const char* lockName) noexcept;
    // The last instance of the process frees the TLS slots and closes the
    // life mutexes still open (their records then read as dead).
    void Detach() noexcept;
    // Lets go of the block without giving anything back, when Detach cannot
    // be serialised: the TLS slots stay allocated for the process's life.
    void Drop() noexcept;

    DWORD SlotTls() const noexcept { return static_cast<DWORD>(block_->slotTls - 1); }
    DWORD MarkerTls() const noexcept { return static_cast<DWORD>(block_->markerTls - 1); }

    // The calling thread's life mutex for record index; one left there by a
    // thread of this process that ended without giving its record back is
    // closed.
    void KeepLife(int index, UniqueMutex life) noexcept;
    // Lets the calling thread's life mutex go: its record was given back.
    void EndLife(int index) noexcept;

private:
    // Closes (releasing first, when asked) the handle value at value, and
    // forgets it, if it is a life mutex of this lock.
    void CloseLife(std::uint64_t& value, bool release) const noexcept;

    UniqueMapping mapping_;
    UniqueView view_;
    OptexProcessBlock* block_ = nullptr;
    HandleNamer namer_;
    wchar_t lifePrefix_[kLifeNameSize] = {};
};

}  // namespace dlmgr
