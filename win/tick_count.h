// A millisecond tick count read straight from KUSER_SHARED_DATA, the page the
// kernel maps into every process at a fixed address for user-mode readers:
// no call, cheap enough for a lock's fast path. It is GetTickCount's count
// until the kernel's 32-bit tick wraps (years of uptime); every tick the locks
// store and compare comes from here, so they agree with each other.
#pragma once

#include <windows.h>

#include <cstdint>

namespace dlmgr {

namespace detail {
constexpr std::uintptr_t kSharedUserData = 0x7FFE0000;
// TickCountMultiplier (offset 0x004) is fixed at boot: read once, so the fast
// path touches only the tick's own line.
inline const ULONG kTickMultiplier =
    *reinterpret_cast<const volatile ULONG*>(kSharedUserData + 0x004);
}  // namespace detail

inline DWORD TickCountNow() noexcept {
    const ULONG ticks = *reinterpret_cast<const volatile ULONG*>(detail::kSharedUserData + 0x320);
    return static_cast<DWORD>((static_cast<std::uint64_t>(ticks) * detail::kTickMultiplier) >> 24);
}

}  // namespace dlmgr
