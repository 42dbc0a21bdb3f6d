// The system's table of open handles (NtQuerySystemInformation), asked which
// other processes hold an object that this process holds too, and with what
// access. Slow (every handle of the machine is listed, and each candidate is
// copied here to be named), so only for rare decisions and diagnostics.
// Where the system does not say, nothing is found: callers take the handle
// counts as they are.
#pragma once

#include <windows.h>

namespace dlmgr {

struct HandleHolders {
    // Processes other than this one that hold a handle that can write the
    // object, and the handles of other processes that cannot (a section's
    // without SECTION_MAP_WRITE).
    static constexpr int kMaxProcesses = 16;
    DWORD processes[kMaxProcesses] = {};
    int processCount = 0;    // listed, at most kMaxProcesses
    ULONG readOnly = 0;      // handles, in all other processes, that cannot write it
    ULONG otherHandles = 0;  // handles of other processes found, of any access
};

class HandleTable {
public:
    // Finds the calls in ntdll; this takes the loader lock.
    void Resolve() noexcept;

    // Who else holds the object behind ours (a named object of this process).
    // writeAccess is the access bit that lets a holder change it (0: every
    // handle counts as one that can). False when the system cannot tell.
    bool Holders(HANDLE ours, ACCESS_MASK writeAccess, HandleHolders& holders) const noexcept;

private:
    using QuerySystem = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);
    using QueryObject = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    QuerySystem querySystem_ = nullptr;
    QueryObject queryObject_ = nullptr;
};

}  // namespace dlmgr
