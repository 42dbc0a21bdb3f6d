// TlsGetValue without the call for the first 64 slots: the value sits in the
// thread's TEB (TEB::TlsSlots in winternl.h), which is where TlsGetValue
// reads it from.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace dlmgr {

inline void* ThreadSlotValue(DWORD index) noexcept {
    if (index >= TLS_MINIMUM_AVAILABLE) return ::TlsGetValue(index);
#if defined(__GNUC__)
#pragma GCC diagnostic push
// GCC takes the segment-relative read in NtCurrentTeb for an access through
// a null pointer.
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
    return NtCurrentTeb()->TlsSlots[index];
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

}  // namespace dlmgr
