#include "sync/optex.h"

#include <cwchar>
#include <cstring>

namespace dlmgr {

namespace {

// Builds "<prefix><name>" into a 100-byte buffer; false when it would not fit.
bool BuildObjectName(char (&out)[Optex::kMaxObjectNameLength + 1], const char* prefix,
                     const char* name) {
    if (std::strlen(prefix) + std::strlen(name) > Optex::kMaxObjectNameLength) return false;
    ::wsprintfA(out, "%s%s", prefix, name);
    return true;
}

}  // namespace

DWORD Optex::SystemProcessorCount() noexcept {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

bool Optex::Init(const void* name, bool nameIsWide, DWORD spinCount, DWORD processorCount) {
    Destroy();
    singleProcessor_ = processorCount == 1;
    if (name == nullptr) return false;

    char ansiName[kMaxObjectNameLength + 1];
    if (nameIsWide) {
        const auto* wide = static_cast<const wchar_t*>(name);
        if (std::wcslen(wide) > kMaxObjectNameLength) return false;
        ::wsprintfA(ansiName, "%S", wide);
    } else {
        const auto* ansi = static_cast<const char*>(name);
        if (std::strlen(ansi) > kMaxObjectNameLength) return false;
        std::strcpy(ansiName, ansi);
    }

    char objectName[kMaxObjectNameLength + 1];
    if (!BuildObjectName(objectName, kEventPrefix, ansiName)) return false;
    event_.reset(::CreateEventA(nullptr, FALSE, FALSE, objectName));
    if (!event_) return false;

    if (!BuildObjectName(objectName, kMappingPrefix, ansiName)) return false;
    mapping_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(OptexShared), objectName));
    if (!mapping_) return false;

    view_.reset(::MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view_) return false;
    shared_ = static_cast<OptexShared*>(view_.get());

    SetSpinCount(spinCount);
    return true;
}

void Optex::Destroy() noexcept {
    shared_ = nullptr;
    view_.reset();
    mapping_.reset();
    event_.reset();
}

void Optex::SetSpinCount(DWORD spinCount) noexcept {
    // On one processor the owner cannot run while we spin: spinning only wastes
    // the time slice, so the shared count stays as it is.
    if (shared_ == nullptr || singleProcessor_) return;
    ::InterlockedExchange(&shared_->spinCount, static_cast<LONG>(spinCount));
}

void Optex::TakeOwnership(LONG threadId) noexcept {
    ::InterlockedExchange(&shared_->ownerThreadId, threadId);
    shared_->recursionCount = 1;
}

bool Optex::TryEnter() noexcept {
    if (shared_ == nullptr) return false;
    const auto threadId = static_cast<LONG>(::GetCurrentThreadId());
    auto budget = static_cast<DWORD>(shared_->spinCount);
    for (;;) {
        if (::InterlockedCompareExchange(&shared_->lockCount, 1, 0) == 0) {
            TakeOwnership(threadId);
            return true;
        }
        if (shared_->ownerThreadId == threadId) {
            ::InterlockedIncrement(&shared_->lockCount);
            ++shared_->recursionCount;
            return true;
        }
        if (budget == 0) return false;
        --budget;
    }
}

bool Optex::Enter() noexcept {
    if (shared_ == nullptr) return false;
    if (TryEnter()) return true;

    const auto threadId = static_cast<LONG>(::GetCurrentThreadId());
    // Announce ourselves: from here on lockCount stays above 0 until we are
    // served, so no later arrival can take the lock ahead of us.
    if (::InterlockedIncrement(&shared_->lockCount) != 1) {
        if (shared_->ownerThreadId == threadId) {
            // Our announcement stands for this extra level.
            ++shared_->recursionCount;
            return true;
        }
        WaitForRelease();
    }
    TakeOwnership(threadId);
    return true;
}

void Optex::WaitForRelease() noexcept {
    ::WaitForSingleObject(event_.get(), INFINITE);
}

void Optex::Leave() noexcept {
    if (shared_ == nullptr) return;
    if (--shared_->recursionCount > 0) {
        ::InterlockedDecrement(&shared_->lockCount);
        return;
    }
    ::InterlockedExchange(&shared_->ownerThreadId, 0);
    if (::InterlockedDecrement(&shared_->lockCount) > 0) {
        // Someone has announced itself; the auto-reset event releases exactly one.
        ::SetEvent(event_.get());
    }
}

OptexGuard Optex::Acquire() noexcept {
    return Enter() ? OptexGuard(this) : OptexGuard();
}

}  // namespace dlmgr
