// The lock exactly as builds without thread records run it: the 16-byte block
// and the event, nothing else. A peer of an earlier build in tests, and the
// yardstick for what the records cost in the benchmark, where Enter and Leave
// are calls as they were in that build.
#pragma once

#include <windows.h>

#include <string>

#include "sync/optex.h"
#include "win/unique_resource.h"

namespace dlmgr::test {

class LegacyOptex {
public:
    bool Init(const std::string& name, DWORD spinCount = 4000) {
        event_.reset(::CreateEventA(nullptr, FALSE, FALSE, (Optex::kEventPrefix + name).c_str()));
        mapping_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(OptexShared),
                                            (Optex::kMappingPrefix + name).c_str()));
        if (!event_ || !mapping_) return false;
        view_.reset(::MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        shared_ = static_cast<OptexShared*>(view_.get());
        if (shared_ != nullptr) ::InterlockedExchange(&shared_->spinCount, static_cast<LONG>(spinCount));
        return shared_ != nullptr;
    }

    bool TryEnter() {
        const auto threadId = static_cast<LONG>(::GetCurrentThreadId());
        auto budget = static_cast<DWORD>(shared_->spinCount);
        for (;;) {
            if (::InterlockedCompareExchange(&shared_->lockCount, 1, 0) == 0) {
                ::InterlockedExchange(&shared_->ownerThreadId, threadId);
                shared_->recursionCount = 1;
                return true;
            }
            if (shared_->ownerThreadId == threadId) {
                ::InterlockedIncrement(&shared_->lockCount);
                ++shared_->recursionCount;
                return true;
            }
            if (budget-- == 0) return false;
        }
    }

    __attribute__((noinline)) void Enter() {
        if (TryEnter()) return;
        const auto threadId = static_cast<LONG>(::GetCurrentThreadId());
        if (::InterlockedIncrement(&shared_->lockCount) != 1) {
            if (shared_->ownerThreadId == threadId) {
                ++shared_->recursionCount;
                return;
            }
            ::WaitForSingleObject(event_.get(), INFINITE);
        }
        ::InterlockedExchange(&shared_->ownerThreadId, threadId);
        shared_->recursionCount = 1;
    }

    __attribute__((noinline)) void Leave() {
        if (--shared_->recursionCount > 0) {
            ::InterlockedDecrement(&shared_->lockCount);
            return;
        }
        ::InterlockedExchange(&shared_->ownerThreadId, 0);
        if (::InterlockedDecrement(&shared_->lockCount) > 0) ::SetEvent(event_.get());
    }

private:
    UniqueEvent event_;
    UniqueMapping mapping_;
    UniqueView view_;
    OptexShared* shared_ = nullptr;
};

}  // namespace dlmgr::test
