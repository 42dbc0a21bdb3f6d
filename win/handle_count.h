// The kernel's count of the handles, in all processes, to the object behind a
// handle (NtQueryObject's basic information). Resolved once, where taking the
// loader lock is safe; counting and verifying never take it.
#pragma once

#include <windows.h>
#include <winternl.h>

#include "win/unique_resource.h"

namespace dlmgr {

class HandleCounter {
public:
    // Finds the query in ntdll; this takes the loader lock, so a program
    // does it before it has threads that may hold that lock.
    void Resolve() noexcept {
        const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        query_ = ntdll ? reinterpret_cast<QueryObject>(
                             reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryObject")))
                       : nullptr;
    }

    // Checks on sample (a mapping) that a second handle is counted: a system
    // that reported a fixed figure would prove anything. Others opening or
    // closing the object meanwhile spoil a check, so it is tried a few times;
    // without a pass, counts stay unknown.
    void Verify(HANDLE sample) noexcept {
        for (int attempt = 0; attempt < 3; ++attempt) {
            ULONG before = 0;
            ULONG during = 0;
            HANDLE copy = nullptr;
            if (!Count(sample, before) ||
                !::DuplicateHandle(::GetCurrentProcess(), sample, ::GetCurrentProcess(), &copy, 0,
                                   FALSE, DUPLICATE_SAME_ACCESS)) {
                break;
            }
            const UniqueMapping second(copy);
            if (Count(sample, during) && during == before + 1) return;
        }
        query_ = nullptr;
    }

    // False when the system does not tell.
    bool Count(HANDLE object, ULONG& count) const noexcept {
        PUBLIC_OBJECT_BASIC_INFORMATION info = {};
        if (query_ == nullptr ||
            query_(object, ObjectBasicInformation, &info, sizeof(info), nullptr) < 0) {
            return false;
        }
        count = info.HandleCount;
        return count != 0;  // ours is one of them
    }

private:
    using QueryObject = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    QueryObject query_ = nullptr;
};

}  // namespace dlmgr
