// Optex: a named, re-entrant lock shared by the threads of every process that
// opens the same name. Free lock: one compare-exchange and one exchange. Held
// lock: spin (multi-processor machines only), then announce and wait on a
// named auto-reset event that each release with waiters sets once.
#pragma once

#include <windows.h>

#include "sync/optex_shared.h"
#include "win/unique_resource.h"

namespace dlmgr {

class OptexGuard;

class Optex {
public:
    // Kernel object names are a prefix and the lock's name, built in 100-byte
    // buffers. Diagnostics open the mapping by the same name.
    static constexpr size_t kMaxObjectNameLength = 99;
    static constexpr char kEventPrefix[] = "Drelm_Optex_Event_";
    static constexpr char kMappingPrefix[] = "Drelm_Optex_MMF_";

    Optex() = default;
    Optex(const Optex&) = delete;
    Optex& operator=(const Optex&) = delete;

    // True when the event, the mapping and the view all exist. The name is
    // ANSI text, or wide text when nameIsWide. processorCount is the machine's
    // unless a caller needs to act as another machine.
    bool Init(const void* name, bool nameIsWide, DWORD spinCount,
              DWORD processorCount = SystemProcessorCount());
    void Destroy() noexcept;
    bool IsUsable() const noexcept { return shared_ != nullptr; }

    void SetSpinCount(DWORD spinCount) noexcept;
    // True when the calling thread now holds the lock (possibly once more).
    bool TryEnter() noexcept;
    // Returns once the calling thread holds the lock; false only when the lock
    // is unusable (Init failed), and then nothing is held.
    bool Enter() noexcept;
    // Gives up one level held by the calling thread.
    void Leave() noexcept;

    // Enter, with a guard that leaves when it goes out of scope.
    OptexGuard Acquire() noexcept;

    // The shared block, for diagnostics; null when unusable.
    const OptexShared* Shared() const noexcept { return shared_; }

    static DWORD SystemProcessorCount() noexcept;

private:
    void WaitForRelease() noexcept;
    void TakeOwnership(LONG threadId) noexcept;

    bool singleProcessor_ = false;
    UniqueEvent event_;
    UniqueMapping mapping_;
    UniqueView view_;
    OptexShared* shared_ = nullptr;  // view_ as the shared block, only when all three exist
};

// One level of an Optex held by the current thread; empty when Enter failed.
class OptexGuard {
public:
    OptexGuard() noexcept = default;
    explicit OptexGuard(Optex* lock) noexcept : lock_(lock) {}
    OptexGuard(const OptexGuard&) = delete;
    OptexGuard& operator=(const OptexGuard&) = delete;
    OptexGuard(OptexGuard&& other) noexcept : lock_(other.lock_) { other.lock_ = nullptr; }
    OptexGuard& operator=(OptexGuard&&) = delete;
    ~OptexGuard() {
        if (lock_) lock_->Leave();
    }
    explicit operator bool() const noexcept { return lock_ != nullptr; }

private:
    Optex* lock_ = nullptr;
};

}  // namespace dlmgr
