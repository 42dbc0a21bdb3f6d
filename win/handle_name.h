// The kernel's name of the object behind a handle of this process
// (NtQueryObject's name information), to tell one of our own named objects
// from whatever value shared memory may claim to be one. Resolved once, where
// taking the loader lock is safe; asking never takes it.
#pragma once

#include <windows.h>

#include <cstddef>

namespace dlmgr {

class HandleNamer {
public:
    // Finds the query in ntdll; this takes the loader lock.
    void Resolve() noexcept;

    // True when handle is valid in this process and the last part of its
    // object's name begins with prefix. False when the system cannot tell.
    bool NameStartsWith(HANDLE handle, const wchar_t* prefix) const noexcept;

private:
    using QueryObject = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    QueryObject query_ = nullptr;
};

}  // namespace dlmgr
