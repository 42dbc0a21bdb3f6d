#include "sync/optex.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "sync/optex_census.h"
#include "win/mutex_hold.h"
#include "win/tick_count.h"
#include "win/tls_value.h"

namespace dlmgr {

namespace {

// The value of slotOfThread_ for a thread that could not get a record: it
// then works as a thread of an earlier build would.
constexpr std::uintptr_t kNoSlot = kOptexSlotCount + 1;
constexpr DWORD kClaimTimeoutMs = 1000;
constexpr size_t kRecoveryNameSize = 128;

// Builds "<prefix><name>" into out; false when it would not fit.
template <size_t Size>
bool BuildObjectName(char (&out)[Size], const char* prefix, const char* name) {
    if (std::strlen(prefix) + std::strlen(name) >= Size) return false;
    ::wsprintfA(out, "%s%s", prefix, name);
    return true;
}

LONG Now() { return static_cast<LONG>(TickCountNow()); }

}  // namespace

// The uncontended Enter and Leave are one function each: the helpers on
// that path are folded into them, the rest stays out of line.
#define DLMGR_FAST_PATH __attribute__((always_inline)) inline

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
    InitRecovery(ansiName);
    return true;
}

void Optex::InitRecovery(const char* name) noexcept {
    char objectName[kRecoveryNameSize];
    if (!BuildObjectName(objectName, kSidePrefix, name)) return;
    sideMapping_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(OptexSideBlock), objectName));
    if (sideMapping_) {
        sideView_.reset(::MapViewOfFile(sideMapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }
    if (!BuildObjectName(objectName, kRecoveryPrefix, name)) return;
    recoveryMutex_.reset(::CreateMutexA(nullptr, FALSE, objectName));
    slotOfThread_.reset(::TlsAlloc());
    if (!sideView_ || !recoveryMutex_ || !slotOfThread_) return;

    auto* side = static_cast<OptexSideBlock*>(sideView_.get());
    const LONG magic = ::InterlockedCompareExchange(&side->magic, kOptexSideMagic, 0);
    // Another layout under our name (a later build): run without records.
    if (magic != 0 && magic != kOptexSideMagic) return;
    ::InterlockedExchange(&side->slotCount, kOptexSlotCount);
    side_ = side;
}

void Optex::Destroy() noexcept {
    side_ = nullptr;
    slotOfThread_.reset();
    recoveryMutex_.reset();
    sideView_.reset();
    sideMapping_.reset();
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

// ---- Thread records ---------------------------------------------------------

DLMGR_FAST_PATH OptexThreadSlot* Optex::RegisteredSlot() const noexcept {
    if (side_ == nullptr) return nullptr;
    const auto value = reinterpret_cast<std::uintptr_t>(ThreadSlotValue(slotOfThread_.get()));
    return value != 0 && value != kNoSlot ? &side_->slots[value - 1] : nullptr;
}

DLMGR_FAST_PATH OptexThreadSlot* Optex::SlotForEnter() noexcept {
    if (side_ == nullptr) return nullptr;
    const auto value = reinterpret_cast<std::uintptr_t>(ThreadSlotValue(slotOfThread_.get()));
    if (value == kNoSlot) return nullptr;
    if (value != 0) return &side_->slots[value - 1];
    return SlotForNewThread();
}

OptexThreadSlot* Optex::SlotForNewThread() noexcept {
    // First use by this thread: ask the kernel who we are, once.
    const int index = ClaimSlot(CurrentThreadIdentity());
    ::TlsSetValue(slotOfThread_.get(),
                  reinterpret_cast<void*>(index < 0 ? kNoSlot : static_cast<std::uintptr_t>(index) + 1));
    return index < 0 ? nullptr : &side_->slots[index];
}

int Optex::ClaimSlot(const ThreadIdentity& me) noexcept {
    MutexHold hold(recoveryMutex_.get(), kClaimTimeoutMs);
    if (!hold) return -1;
    const auto low = static_cast<LONG>(me.creationTime & 0xFFFFFFFFu);
    const auto high = static_cast<LONG>(me.creationTime >> 32);
    OptexThreadSlot* slots = side_->slots;
    // This thread's record made through another Optex of the same name.
    for (int i = 0; i < kOptexSlotCount; ++i) {
        if (slots[i].threadId == static_cast<LONG>(me.threadId) &&
            slots[i].processId == static_cast<LONG>(me.processId) &&
            slots[i].creationLow == low && slots[i].creationHigh == high &&
            slots[i].state != kSlotUnclaimed) {
            return i;
        }
    }
    int index = -1;
    for (int i = 0; i < kOptexSlotCount && index < 0; ++i) {
        if (slots[i].threadId == 0) index = i;
    }
    if (index < 0) {
        // Full: threads that ended without forgetting their records (killed,
        // or in a process that never told us) hold no level when idle.
        for (int i = 0; i < kOptexSlotCount; ++i) {
            if (slots[i].state == kSlotIdle && IsProvenDead(IdentityOf(slots[i]))) {
                FreeSlot(i);
                if (index < 0) index = i;
            }
        }
    }
    if (index < 0) return -1;
    // Readers skip a record until its id is set and its state is Idle.
    OptexThreadSlot& slot = slots[index];
    slot.processId = static_cast<LONG>(me.processId);
    slot.creationLow = low;
    slot.creationHigh = high;
    slot.tick = Now();
    slot.threadId = static_cast<LONG>(me.threadId);
    slot.state = kSlotIdle;
    return index;
}

// Under the recovery mutex, for records of dead threads only.
void Optex::FreeSlot(int index) noexcept {
    side_->slots[index].state = kSlotUnclaimed;
    side_->slots[index].threadId = 0;
}

int Optex::IndexOf(const OptexThreadSlot* slot) const noexcept {
    return slot == nullptr ? -1 : static_cast<int>(slot - side_->slots);
}

void Optex::ForgetCurrentThread() noexcept {
    OptexThreadSlot* slot = RegisteredSlot();
    if (slot == nullptr || slot->state != kSlotIdle) return;
    MutexHold hold(recoveryMutex_.get(), 0);
    if (!hold) return;  // busy: the record is reused once the thread is gone
    slot->state = kSlotUnclaimed;
    slot->threadId = 0;
    ::TlsSetValue(slotOfThread_.get(), nullptr);
}

// ---- Taking and leaving -----------------------------------------------------

void Optex::Reenter(OptexThreadSlot* slot) noexcept {
    // Window: a death between the increment and the count of levels leaves
    // lockCount one above recursionCount; Reentering tells a recoverer so.
    if (slot) slot->state = kSlotReentering;
    ::InterlockedIncrement(&shared_->lockCount);
    ++shared_->recursionCount;
    if (slot) slot->state = kSlotActive;
}

DLMGR_FAST_PATH void Optex::HeldBy(OptexThreadSlot* slot) noexcept {
    if (slot == nullptr) return;
    // Within one tick a thread taking the lock again has nothing to write.
    const LONG now = Now();
    if (slot->tick != now) slot->tick = now;
}

DLMGR_FAST_PATH bool Optex::TryEnterAs(LONG threadId, OptexThreadSlot* slot) noexcept {
    // Our id in the owner field is our hold only if our record says we own: a
    // dead thread that had our id before us may have left it there. Without a
    // record only the id can be trusted, as in earlier builds.
    if (shared_->ownerThreadId == threadId && (slot == nullptr || slot->state == kSlotActive)) {
        Reenter(slot);
        return true;
    }
    auto budget = static_cast<DWORD>(shared_->spinCount);
    if (slot) slot->state = kSlotActive;
    for (;;) {
        // Window: a death right after this compare-exchange, before the owner
        // is written, leaves a level that no owner field names; the record
        // (Active, not named owner) tells a recoverer it is 0 or 1.
        if (::InterlockedCompareExchange(&shared_->lockCount, 1, 0) == 0) {
            ::InterlockedExchange(&shared_->ownerThreadId, threadId);
            shared_->recursionCount = 1;
            HeldBy(slot);
            return true;
        }
        if (budget == 0) break;
        --budget;
    }
    if (slot) slot->state = kSlotIdle;
    return false;
}

bool Optex::TryEnter() noexcept {
    if (shared_ == nullptr) return false;
    return TryEnterAs(static_cast<LONG>(::GetCurrentThreadId()), SlotForEnter());
}

LockResult Optex::Enter() noexcept {
    if (shared_ == nullptr) return LockResult::kUnusable;
    const auto threadId = static_cast<LONG>(::GetCurrentThreadId());
    OptexThreadSlot* slot = SlotForEnter();
    if (TryEnterAs(threadId, slot)) return LockResult::kAcquired;
    return EnterContended(threadId, slot);
}

LockResult Optex::EnterContended(LONG threadId, OptexThreadSlot* slot) noexcept {
    LockResult result = LockResult::kAcquired;
    while (!AnnounceAndWait(threadId, slot, result)) {
        if (TryEnterAs(threadId, slot)) return LockResult::kAcquired;
    }
    return result;
}

bool Optex::AnnounceAndWait(LONG threadId, OptexThreadSlot* slot, LockResult& result) noexcept {
    // Announce ourselves: from here on lockCount stays above 0 until we are
    // served, so no later arrival can take the lock ahead of us. Window: a
    // death around the increment leaves 0 or 1 level; Announcing says so.
    if (slot) {
        slot->tick = Now();
        slot->state = kSlotAnnouncing;
    }
    const LONG count = ::InterlockedIncrement(&shared_->lockCount);
    if (slot) slot->state = kSlotWaiting;
    if (count == 1) {
        // Freed meanwhile: our announcement is our level.
        ::InterlockedExchange(&shared_->ownerThreadId, threadId);
        shared_->recursionCount = 1;
        if (slot) slot->state = kSlotActive;
        HeldBy(slot);
        result = LockResult::kAcquired;
        return true;
    }
    if (slot == nullptr && shared_->ownerThreadId == threadId) {
        // Our announcement stands for this extra level.
        ++shared_->recursionCount;
        result = LockResult::kAcquired;
        return true;
    }

    LONG suspected = 0;
    bool suspicious = false;
    bool waitFailed = false;
    for (;;) {
        if (slot) slot->tick = Now();  // a waiter's sign of life
        const DWORD wait = ::WaitForSingleObject(event_.get(), kWaitSliceMs);
        if (wait == WAIT_OBJECT_0) {
            // Released to us. Window: a waiter woken but not yet owner looks,
            // to a recoverer, like a lock nobody owns; so the owner field is
            // claimed by compare-exchange, and a recoverer that took the lock
            // meanwhile leaves our announcement standing: we wait on.
            if (::InterlockedCompareExchange(&shared_->ownerThreadId, threadId, 0) == 0) {
                shared_->recursionCount = 1;
                if (slot) slot->state = kSlotActive;
                HeldBy(slot);
                if (slot && shared_->lockCount > 1 && DeadWaitersMayRemain(slot)) {
                    WithdrawDeadWaiters(threadId, slot);
                }
                result = LockResult::kAcquired;
                return true;
            }
            continue;
        }
        // A failed wait (a handle closed by a host's bug) is never taken for a
        // release: we fall back to looking every slice.
        if (wait != WAIT_TIMEOUT) {
            if (!waitFailed && waitFailed_ != nullptr) waitFailed_(::GetLastError());
            waitFailed = true;
            ::Sleep(kWaitSliceMs);
        }
        if (shared_->lockCount == 0) {
            // Our announcement was withdrawn by a recount that could not see
            // us: start over rather than wait for a release that never comes.
            if (slot) slot->state = kSlotIdle;
            return false;
        }
        const LONG owner = shared_->ownerThreadId;
        if (!OwnerLooksGone(threadId, slot, owner)) {
            suspicious = false;
            continue;
        }
        // Never act on one look: the fields may have been half written.
        if (!suspicious || suspected != owner) {
            suspicious = true;
            suspected = owner;
            continue;
        }
        if (TakeOver(threadId, slot, owner, result)) return true;
    }
}

bool Optex::OwnerLooksGone(LONG threadId, const OptexThreadSlot* slot, LONG owner) const noexcept {
    if (side_ == nullptr) return false;  // nothing to recover with
    if (owner == 0) return true;         // nobody owns, yet nobody released us
    if (owner == threadId) return slot != nullptr;  // an earlier thread with our id left it
    bool recorded = false;
    for (const OptexThreadSlot& record : side_->slots) {
        if (record.threadId != owner || !MayOwn(record.state)) continue;
        if (!IsProvenDead(IdentityOf(record))) return false;
        recorded = true;
    }
    if (recorded) return true;
    ThreadIdentity unrecorded;
    unrecorded.threadId = static_cast<DWORD>(owner);
    return IsProvenDead(unrecorded);
}

bool Optex::TakeOver(LONG threadId, OptexThreadSlot* slot, LONG ownerSeen,
                     LockResult& result) noexcept {
    MutexHold hold(recoveryMutex_.get(), kWaitSliceMs);
    if (!hold) return false;
    OptexCensus census;
    const CensusTaker taker = {threadId, IndexOf(slot), 1, false};
    if (!TakeCensus(*shared_, *side_, taker, kStaleRecordMs, census)) return false;
    if (census.ownerThreadId != ownerSeen || census.ownerAlive || census.liveThreadMidStep) {
        return false;
    }
    // Levels that no record explains belong to threads of an earlier build:
    // only a proven-dead owner then justifies acting, and only its own
    // levels are withdrawn.
    const bool explained = census.Explained();
    if (!explained && !census.ownerDead) return false;
    if (::InterlockedCompareExchange(&shared_->ownerThreadId, threadId, ownerSeen) != ownerSeen) {
        return false;
    }
    // Window: we own from here. A death before lockCount is settled leaves the
    // owner field naming us and the dead records in place; the next census
    // counts them all again, as lockCount is only ever set, never guessed.
    shared_->recursionCount = 1;
    if (slot) slot->state = kSlotActive;
    HeldBy(slot);
    if (explained) {
        ::InterlockedExchangeAdd(&shared_->lockCount, census.liveLevels - census.lockCount);
        for (int i = 0; i < census.deadSlotCount; ++i) FreeSlot(census.deadSlots[i]);
    } else {
        ::InterlockedExchangeAdd(&shared_->lockCount, -census.deadOwnerLevels);
        if (census.deadOwnerSlot >= 0) FreeSlot(census.deadOwnerSlot);
        ::InterlockedExchange(&side_->recount, 1);
    }
    ::InterlockedIncrement(&side_->takeovers);
    abandonedBy_ = census.deadOwner;
    result = census.ownerDead ? LockResult::kAbandoned : LockResult::kAcquired;
    return true;
}

bool Optex::DeadWaitersMayRemain(const OptexThreadSlot* self) const noexcept {
    if (side_->recount != 0) return true;
    // Only waiters renew their records; a dead thread in another state left a
    // lock that nobody owns or an owner that is dead, which waiters recover.
    const auto now = static_cast<DWORD>(Now());
    for (const OptexThreadSlot& record : side_->slots) {
        if (&record != self && record.threadId != 0 &&
            (record.state == kSlotWaiting || record.state == kSlotAnnouncing) &&
            now - static_cast<DWORD>(record.tick) >= kStaleRecordMs) {
            return true;
        }
    }
    return false;
}

void Optex::WithdrawDeadWaiters(LONG threadId, OptexThreadSlot* slot) noexcept {
    // Held by us, the lock has no release on its way to anyone, so dead
    // waiters' announcements can be withdrawn without a wake-up going astray.
    MutexHold hold(recoveryMutex_.get(), 0);
    if (!hold) return;  // a recovery is under way; a later release looks again
    OptexCensus census;
    const CensusTaker taker = {threadId, IndexOf(slot), shared_->recursionCount, true};
    if (!TakeCensus(*shared_, *side_, taker, kStaleRecordMs, census) ||
        census.liveThreadMidStep || !census.Explained()) {
        return;
    }
    if (census.lockCount != census.liveLevels) {
        ::InterlockedExchangeAdd(&shared_->lockCount, census.liveLevels - census.lockCount);
    }
    for (int i = 0; i < census.deadSlotCount; ++i) FreeSlot(census.deadSlots[i]);
    ::InterlockedExchange(&side_->recount, 0);
}

void Optex::Leave() noexcept {
    if (shared_ == nullptr) return;
    OptexThreadSlot* slot = RegisteredSlot();
    if (shared_->recursionCount > 1) {
        // Window: between these two steps lockCount is one above
        // recursionCount; Leaving tells a recoverer so.
        if (slot) slot->state = kSlotLeaving;
        --shared_->recursionCount;
        ::InterlockedDecrement(&shared_->lockCount);
        if (slot) slot->state = kSlotActive;
        return;
    }
    if (slot && shared_->lockCount > 1 && DeadWaitersMayRemain(slot)) {
        WithdrawDeadWaiters(static_cast<LONG>(::GetCurrentThreadId()), slot);
    }
    shared_->recursionCount = 0;
    // Window: from the exchange to the decrement our level is counted while
    // no owner is named; our record, still Active, says it is 0 or 1.
    ::InterlockedExchange(&shared_->ownerThreadId, 0);
    const LONG remaining = ::InterlockedDecrement(&shared_->lockCount);
    if (slot) slot->state = kSlotIdle;
    // Window: a death here loses the wake-up; the waiters then find, twice in
    // a row, a lock that nobody owns and only they hold levels of, and one of
    // them takes it.
    if (remaining > 0) ::SetEvent(event_.get());
}

OptexGuard Optex::Acquire() noexcept { return OptexGuard(this, Enter()); }

}  // namespace dlmgr
