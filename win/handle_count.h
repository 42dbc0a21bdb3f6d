// The kernel's count of the handles, in all processes, to the object behind a
// handle (NtQueryObject's basic information). Resolved once, where taking the
// loader lock is safe; counting never takes it.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace dlmgr {

class HandleCounter {
public:
    void Resolve() noexcept {
        const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        query_ = ntdll ? reinterpret_cast<QueryObject>(
                             reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryObject")))
                       : nullptr;
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
