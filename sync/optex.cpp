#include "sync/optex.h"

#include <cstdint>
#include <cstring>

#include "sync/older_generations.h"
#include "sync/optex_census.h"
#include "sync/thread_life.h"
#include "win/current_thread_id.h"
#include "win/mutex_hold.h"
#include "win/tick_count.h"
#include "win/tls_value.h"

namespace dlmgr {

namespace {

// The value of a thread's record TLS slot when it could not get a record: it
// then works as a thread of an earlier build would (holding a marker, see
// SetMarker), and tries again the next time it has to wait. Above it,
// kNoSlot + n: such a thread holding n levels, so that it re-enters on what
// it holds, never on its id alone (a dead thread that had its id may have
// left it in the owner field).
constexpr std::uintptr_t kNoSlot = kOptexSlotCount + 1;
constexpr DWORD kClaimTimeoutMs = 1000;
constexpr size_t kRecoveryNameSize = 128;
// How often a waiter looks at a wake-up event that tells nothing by being
// set (manual-reset, or set by another program at will).
constexpr DWORD kPollMs = 2;
// Wake-ups in a row that found the owner field held by another: more than a
// recoverer or a dead claimer leaves, so another program sets the event.
constexpr int kStrayWakeUpsInARow = 8;

// Builds "<prefix><name>" into out; false when it would not fit.
template <size_t Size>
bool BuildObjectName(char (&out)[Size], const char* prefix, const char* name) {
    if (std::strlen(prefix) + std::strlen(name) >= Size) return false;
    ::wsprintfA(out, "%s%s", prefix, name);
    return true;
}

LONG Now() { return static_cast<LONG>(TickCountNow()); }

// Since when something a waiter looks at every slice has been so.
class SteadySince {
public:
    void Reset() noexcept { watching_ = false; }
    // At a look that found it so: true once it has been so for at least ms.
    bool For(DWORD ms) noexcept {
        const auto now = static_cast<DWORD>(Now());
        if (!watching_) {
            watching_ = true;
            since_ = now;
        }
        return now - since_ >= ms;
    }

private:
    bool watching_ = false;
    DWORD since_ = 0;
};

// Since when a waiter has seen a lock that nobody owns and nobody releases:
// lockCount never went down meanwhile (a release would lower it).
class UnownedWatch {
public:
    void Reset() noexcept { since_.Reset(); }
    // True once the lock has looked that way for at least quietMs.
    bool QuietFor(LONG lockCount, DWORD quietMs) noexcept {
        if (lockCount < lastCount_) since_.Reset();
        lastCount_ = lockCount;
        return since_.For(quietMs);
    }

private:
    SteadySince since_;
    LONG lastCount_ = 0;
};

// Since when a waiter has found the recovery mutex held by someone else at
// every look.
class KeptWatch {
public:
    // True once that has been so for at least keptMs.
    bool KeptFor(HANDLE mutex, DWORD keptMs) noexcept {
        if (MutexHold(mutex, 0)) {
            since_.Reset();
            return false;
        }
        return since_.For(keptMs);
    }

private:
    SteadySince since_;
};

// Whether the event is manual-reset (NtQueryEvent's basic information): one
// that another program made under our name before any of ours.
bool IsManualReset(HANDLE event) {
    using QueryEvent = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const auto query = ntdll ? reinterpret_cast<QueryEvent>(
                                   reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryEvent")))
                             : nullptr;
    struct {
        LONG type;  // 0: notification (manual-reset); 1: synchronisation (auto-reset)
        LONG state;
    } info = {1, 0};
    return query != nullptr && query(event, 0, &info, sizeof(info), nullptr) >= 0 && info.type == 0;
}

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
        // Bounded by the buffer: a wide name may take more bytes than it has
        // characters.
        if (::WideCharToMultiByte(CP_ACP, 0, static_cast<const wchar_t*>(name), -1, ansiName,
                                  sizeof(ansiName), nullptr, nullptr) == 0) {
            return false;
        }
    } else {
        const auto* ansi = static_cast<const char*>(name);
        if (std::strlen(ansi) > kMaxObjectNameLength) return false;
        std::strcpy(ansiName, ansi);
    }

    if (!BuildObjectName(eventName_, kEventPrefix, ansiName)) return false;
    event_.reset(::CreateEventA(nullptr, FALSE, FALSE, eventName_));
    if (!event_) return false;
    wakeEvent_ = event_.get();

    char mappingName[kMaxObjectNameLength + 1];
    if (!BuildObjectName(mappingName, kMappingPrefix, ansiName)) return false;
    mapping_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(OptexShared), mappingName));
    if (!mapping_) return false;

    view_.reset(::MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view_) return false;
    shared_ = static_cast<OptexShared*>(view_.get());

    SetSpinCount(spinCount);
    eventIsManual_ = IsManualReset(event_.get());
    InitRecovery(ansiName);
    return true;
}

void Optex::InitRecovery(const char* name) noexcept {
    std::strcpy(lockName_, name);
    char objectName[kRecoveryNameSize];
    if (!BuildObjectName(objectName, kSidePrefix, name)) return;
    sideMapping_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(OptexSideBlock), objectName));
    if (sideMapping_) {
        sideView_.reset(::MapViewOfFile(sideMapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }
    if (!BuildObjectName(objectName, kRecoveryPrefix, name)) return;
    recoveryMutex_.reset(::CreateMutexA(nullptr, FALSE, objectName));
    if (sideView_ && recoveryMutex_) {
        auto* side = static_cast<OptexSideBlock*>(sideView_.get());
        const LONG magic = ::InterlockedCompareExchange(&side->magic, kOptexSideMagic, 0);
        // The process's share is taken under the mutex, as the copies of the
        // module in one process take it in turns; kept by another for a
        // second, it is taken all the same (the loader's lock keeps copies
        // from loading at once), and said at the first bounded wait.
        MutexHold hold(recoveryMutex_.get(), kClaimTimeoutMs);
        keptAtInit_ = !hold;
        // Another layout under our name (a later build): run without records.
        // Only an Optex that keeps records holds the peers' event open, so
        // that handle counts tell how many of the lock's users keep records.
        if ((magic == 0 || magic == kOptexSideMagic) && peers_.Open(name, mapping_.get()) &&
            process_.Attach(name)) {
            ::InterlockedExchange(&side->slotCount, kOptexSlotCount);
            slotTls_ = process_.SlotTls();
            markerTls_ = process_.MarkerTls();
            side_ = side;
        }
    }
    if (side_ == nullptr) {
        peers_.Close();
        recoveryMutex_.reset();
    }
}

bool Optex::OnlyRecordingPeers() const noexcept {
    // A thread that keeps no record (of an earlier build, of another
    // generation, or one of ours that found none) held up between two steps
    // looks like a lock nobody owns, or like a namesake of a dead owner, and
    // its levels like levels the dead left (OptexPeers).
    return side_ != nullptr && peers_.OnlyOurs(OwnMarker());
}

ULONG Optex::OwnMarker() const noexcept {
    // The calling thread's own marker does not count against it.
    return ::TlsGetValue(markerTls_) != nullptr ? 1 : 0;
}

void Optex::Destroy() noexcept {
    if (side_ != nullptr) {
        // The process's share is given back under the mutex, as it was taken.
        MutexHold hold(recoveryMutex_.get(), kClaimTimeoutMs);
        if (hold) process_.Detach();
    }
    process_.Drop();
    peers_.Close();
    waiterLives_.Close();
    side_ = nullptr;
    keptAtInit_ = false;
    eventIsManual_ = false;
    slotTls_ = TLS_OUT_OF_INDEXES;
    markerTls_ = TLS_OUT_OF_INDEXES;
    wakeEvent_ = nullptr;
    reopened_.reset();
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

// A waiter's state across the slices of one wait.
struct Optex::Waiter {
    Waiter(LONG id, DWORD timeoutMs) noexcept : threadId(id), timeout(timeoutMs) {}
    // What is left of a bounded wait, at most a slice.
    DWORD SliceMs() const noexcept {
        if (timeout == INFINITE) return kWaitSliceMs;
        const DWORD waited = ::GetTickCount() - start;
        return waited >= timeout ? 0 : (timeout - waited < kWaitSliceMs ? timeout - waited : kWaitSliceMs);
    }
    bool Expired() const noexcept { return timeout != INFINITE && ::GetTickCount() - start >= timeout; }

    LONG threadId;
    OptexThreadSlot* slot = nullptr;
    DWORD timeout;
    DWORD start = ::GetTickCount();
    LockResult result = LockResult::kAcquired;
    LONG epoch = 0;       // the side block's epoch as the slice's wait began
    LONG suspected = 0;   // an owner judged gone on the previous look
    LONG spareOwner = 0;  // a wake-up in hand, taken while the owner field named that thread
    // A wake-up spent on a claim made during its wait: the lock is looked
    // at for a claim at once, since ours may have been the claim's release's.
    bool claimNow = false;
    // The owner's life mutex while we watch it, and the last life found
    // over, never watched again: should its takeover not be had at once,
    // the slices take it from there.
    UniqueMutex ownersLife;
    LONG watched = 0;
    LONG lifeOver = 0;
    UnownedWatch unowned;
    KeptWatch kept;
    int spentInRow = 0;
    bool polling = false;  // the event tells nothing by being set: looked at every kPollMs
    bool reportedFailure = false;
    bool toldLong = false;
};

// ---- Thread records ---------------------------------------------------------

DLMGR_FAST_PATH std::uintptr_t Optex::SlotValue() const noexcept {
    return reinterpret_cast<std::uintptr_t>(ThreadSlotValue(slotTls_));
}

DLMGR_FAST_PATH OptexThreadSlot* Optex::RegisteredSlot() const noexcept {
    if (side_ == nullptr) return nullptr;
    const auto value = SlotValue();
    return value != 0 && value < kNoSlot ? &side_->slots[value - 1] : nullptr;
}

bool Optex::HoldsWithoutRecord() const noexcept {
    // Without records at all, only the id can be trusted, as in earlier
    // builds. With them, the levels this thread took without a record are
    // counted in its TLS slot, which every copy of the module shares.
    return side_ == nullptr || SlotValue() > kNoSlot;
}

void Optex::CountLevelWithoutRecord(bool taken) noexcept {
    if (side_ == nullptr) return;
    const auto value = SlotValue();
    if (value < kNoSlot || (!taken && value == kNoSlot)) return;
    ::TlsSetValue(slotTls_, reinterpret_cast<void*>(taken ? value + 1 : value - 1));
}

DLMGR_FAST_PATH OptexThreadSlot* Optex::SlotForEnter() noexcept {
    if (side_ == nullptr) return nullptr;
    const auto value = SlotValue();
    if (value != 0 && value < kNoSlot) return &side_->slots[value - 1];
    if (value == 0) return ClaimSlotForThread();
    // No record: the marker goes up before any step on the lock.
    if (value == kNoSlot) SetMarker(true);
    return nullptr;
}

void Optex::DropMarkerWhenEmpty() noexcept {
    // A thread with no record and no level lets its marker go, so that it
    // never keeps others from recovering while it idles.
    if (side_ != nullptr && SlotValue() == kNoSlot) SetMarker(false);
}

OptexThreadSlot* Optex::ClaimSlotForThread() noexcept {
    // Asks the kernel who we are: once per thread, or again after a failure.
    const int index = ClaimSlot(CurrentThreadIdentity());
    // The marker goes up before this thread touches lockCount without a
    // record, and down once it has one.
    SetMarker(index < 0);
    ::TlsSetValue(slotTls_,
                  reinterpret_cast<void*>(index < 0 ? kNoSlot : static_cast<std::uintptr_t>(index) + 1));
    return index < 0 ? nullptr : &side_->slots[index];
}

void Optex::SetMarker(bool marked) noexcept {
    HANDLE marker = ::TlsGetValue(markerTls_);
    if ((marker != nullptr) == marked) return;
    if (marked) {
        // Out of handles, the thread goes on unmarked: the lock still works
        // for it, though a recovery may then take its levels for the dead's.
        if (!::DuplicateHandle(::GetCurrentProcess(), mapping_.get(), ::GetCurrentProcess(), &marker,
                               0, FALSE, DUPLICATE_SAME_ACCESS)) {
            marker = nullptr;
        }
        ::TlsSetValue(markerTls_, marker);
        return;
    }
    UniqueMapping(marker).reset();
    ::TlsSetValue(markerTls_, nullptr);
}

int Optex::ClaimSlot(const ThreadIdentity& me) noexcept {
    // A free record is claimed by a compare-exchange of its id from 0, which
    // needs no mutex: a recovery mutex kept by another program never leaves a
    // new thread without a record while one is free.
    OptexThreadSlot* slots = side_->slots;
    const auto threadId = static_cast<LONG>(me.threadId);
    int index = -1;
    for (int pass = 0; pass < 2 && index < 0; ++pass) {
        for (int i = 0; i < kOptexSlotCount && index < 0; ++i) {
            if (slots[i].threadId == 0 && ::InterlockedCompareExchange(&slots[i].threadId, threadId, 0) == 0) {
                index = i;
            }
        }
        if (index < 0 && pass == 0) {
            MutexHold hold(recoveryMutex_.get(), kClaimTimeoutMs);
            if (!hold) return -1;
            ReuseDeadSlots();
        }
    }
    if (index < 0) return -1;
    LONG life = ::InterlockedIncrement(&side_->lastLife);
    if (life == 0) life = ::InterlockedIncrement(&side_->lastLife);
    UniqueMutex lifeMutex = CreateOwnedLife(lockName_, life);
    if (!lifeMutex) life = 0;  // judged by its ids alone
    process_.KeepLife(index, std::move(lifeMutex));
    // Readers skip a record until its state is no longer Unclaimed.
    OptexThreadSlot& slot = slots[index];
    slot.processId = static_cast<LONG>(me.processId);
    slot.creationLow = static_cast<LONG>(me.creationTime & 0xFFFFFFFFu);
    slot.creationHigh = static_cast<LONG>(me.creationTime >> 32);
    slot.tick = Now();
    slot.heldLevels = 0;
    slot.life = life;
    slot.state = kSlotIdle;
    return index;
}

void Optex::ReuseDeadSlots() noexcept {
    // Records of dead threads that surely hold no level are reused; what
    // they may hold is counted in possiblePhantoms first, so that the levels
    // stay accounted for. Those that surely hold levels are freed by the
    // owner that withdraws them.
    OptexThreadSlot* slots = side_->slots;
    for (int i = 0; i < kOptexSlotCount; ++i) {
        // The kernel first: a dead thread's record no longer changes, so the
        // state read after it is the one it died in.
        if (slots[i].threadId == 0 || slots[i].state == kSlotUnclaimed ||
            !RecordDead(slots[i], lockName_)) {
            continue;
        }
        const LONG state = slots[i].state;
        if (!ReusableWhenDead(state)) continue;
        const DeadRecord share = OtherShare(i, state, slots[i].heldLevels);
        if (share.atMost != 0) ::InterlockedExchangeAdd(&side_->possiblePhantoms, share.atMost);
        FreeSlot(i);
    }
}

// Under the recovery mutex, for records of dead threads only (and a live
// thread's own, given back): the state first, so that the record is never
// claimed again while a stale state could still be written into it.
void Optex::FreeSlot(int index) noexcept {
    side_->slots[index].state = kSlotUnclaimed;
    side_->slots[index].threadId = 0;
}

int Optex::IndexOf(const OptexThreadSlot* slot) const noexcept {
    return slot == nullptr ? -1 : static_cast<int>(slot - side_->slots);
}

CensusTaker Optex::Taker(LONG threadId, const OptexThreadSlot* slot, bool owns) const noexcept {
    return {threadId, IndexOf(slot), owns, lockName_};
}

void Optex::ForgetCurrentThread() noexcept {
    if (side_ == nullptr) return;
    if (SlotValue() == kNoSlot) {
        SetMarker(false);
        ::TlsSetValue(slotTls_, nullptr);
        return;
    }
    OptexThreadSlot* slot = RegisteredSlot();
    if (slot == nullptr || slot->state != kSlotIdle) return;
    MutexHold hold(recoveryMutex_.get(), 0);
    if (!hold) return;  // busy: the record is reused once the thread is gone
    FreeSlot(IndexOf(slot));
    process_.EndLife(IndexOf(slot));
    ::TlsSetValue(slotTls_, nullptr);
}

// ---- Taking and leaving -----------------------------------------------------

void Optex::Reenter(OptexThreadSlot* slot) noexcept {
    // Window: a death between the increment and the count of levels leaves
    // lockCount one above recursionCount; Reentering tells a recoverer so.
    if (slot) slot->state = kSlotReentering;
    ::InterlockedIncrement(&shared_->lockCount);
    ++shared_->recursionCount;
    if (slot) slot->state = kSlotOwning;
}

bool Optex::ReenterAsGuest(LONG threadId, OptexThreadSlot* slot) noexcept {
    // Under the recovery mutex: a waiter that judged a dead namesake's hold
    // gone (one that keeps no record, to whom every peer keeps one) takes it
    // over under the mutex, and must not land beside our level. Should
    // another program keep the mutex, no takeover can happen either.
    MutexHold hold(recoveryMutex_.get(), kClaimTimeoutMs);
    if (shared_->ownerThreadId != threadId) return false;  // taken over meanwhile
    // The levels below ours are noted: the Leave of our last one leaves the
    // record Idle, the hold to the copy that took it.
    if (slot) slot->heldLevels = shared_->recursionCount;
    Reenter(slot);
    return true;
}

DLMGR_FAST_PATH void Optex::HeldBy(OptexThreadSlot* slot) noexcept {
    shared_->recursionCount = 1;
    if (slot) slot->state = kSlotOwning;
}

DLMGR_FAST_PATH bool Optex::ClaimOwnerField(LONG threadId, OptexThreadSlot* slot) noexcept {
    // Always from 0: a waiter woken by a wake-up meant for someone else, or a
    // recoverer, may have claimed it first; then our level stays an
    // announcement and nobody owns twice.
    if (::InterlockedCompareExchange(&shared_->ownerThreadId, threadId, 0) != 0) return false;
    HeldBy(slot);
    return true;
}

DLMGR_FAST_PATH Optex::Attempt Optex::TryEnterAs(LONG threadId, OptexThreadSlot* slot) noexcept {
    // Our id in the owner field is our hold if our record (or, without one,
    // our count of levels) says we own. Otherwise it is held through a copy
    // of the module that keeps no record (taken by this thread, or left by a
    // dead thread that had our id, which such a copy would take for its own
    // too), or, when every peer keeps records, left by a dead thread of our
    // id, which is taken over, never reentered.
    if (shared_->ownerThreadId == threadId) {
        if (slot ? slot->state == kSlotOwning : HoldsWithoutRecord()) {
            Reenter(slot);
            return Attempt::kOwned;
        }
        if (!OnlyRecordingPeers()) {
            return ReenterAsGuest(threadId, slot) ? Attempt::kOwned : Attempt::kBusy;
        }
    }
    auto budget = static_cast<DWORD>(shared_->spinCount);
    if (slot) {
        // Since when it tries (and, once it owns, holds): within one tick a
        // thread taking the lock again has nothing to write.
        const LONG now = Now();
        if (slot->tick != now) slot->tick = now;
        slot->state = kSlotSpinning;
    }
    for (;;) {
        // Window: a death right after a successful compare-exchange, before
        // Claiming, leaves a level nobody is named for; Spinning tells a
        // recoverer it is 0 or 1.
        if (::InterlockedCompareExchange(&shared_->lockCount, 1, 0) == 0) {
            if (slot) slot->state = kSlotClaiming;
            return ClaimOwnerField(threadId, slot) ? Attempt::kOwned : Attempt::kCountedOnly;
        }
        if (budget == 0) break;
        --budget;
    }
    if (slot) slot->state = kSlotIdle;
    return Attempt::kBusy;
}

bool Optex::TryEnter() noexcept {
    if (shared_ == nullptr) return false;
    OptexThreadSlot* slot = SlotForEnter();
    switch (TryEnterAs(static_cast<LONG>(CurrentThreadId()), slot)) {
        case Attempt::kOwned:
            if (slot == nullptr) CountLevelWithoutRecord(true);
            return true;
        case Attempt::kCountedOnly:
            // Someone else got the owner field: give our level back (Spinning
            // again while it may or may not be gone).
            if (slot) slot->state = kSlotSpinning;
            ::InterlockedDecrement(&shared_->lockCount);
            if (slot) slot->state = kSlotIdle;
            break;
        case Attempt::kBusy:
            break;
    }
    DropMarkerWhenEmpty();
    return false;
}

LockResult Optex::Enter() noexcept {
    if (shared_ == nullptr) return LockResult::kUnusable;
    const auto threadId = static_cast<LONG>(CurrentThreadId());
    OptexThreadSlot* slot = SlotForEnter();
    const Attempt attempt = TryEnterAs(threadId, slot);
    if (attempt == Attempt::kOwned) {
        if (slot == nullptr) CountLevelWithoutRecord(true);
        return LockResult::kAcquired;
    }
    const LockResult result = EnterContended(threadId, slot, attempt == Attempt::kCountedOnly, INFINITE);
    // It may have got a record meanwhile.
    if (result != LockResult::kUnusable && RegisteredSlot() == nullptr) {
        CountLevelWithoutRecord(true);
    }
    return result;
}

LockResult Optex::EnterContended(LONG threadId, OptexThreadSlot* slot, bool counted,
                                 DWORD timeoutMs) noexcept {
    if (slot == nullptr && !counted && side_ != nullptr &&
        SlotValue() == kNoSlot) {
        slot = ClaimSlotForThread();  // a record makes this thread's death recoverable
    }
    Waiter w(threadId, timeoutMs);
    for (;;) {
        if (counted) {
            // Our compare-exchange counted us, but another claimed the owner
            // field: the level stands as our announcement.
            if (slot) slot->state = kSlotWaiting;
        } else {
            // Announce ourselves: from here on lockCount stays above 0 until
            // we are served, so no later arrival can take the lock ahead of
            // us. Window: a death around the increment leaves 0 or 1 level;
            // Announcing says so.
            if (slot) {
                slot->tick = Now();
                slot->state = kSlotAnnouncing;
            }
            const LONG count = ::InterlockedIncrement(&shared_->lockCount);
            if (count == 1) {
                // Freed meanwhile: our announcement is our level, and we are
                // claiming the owner field (Claiming, so that nobody takes us
                // for a waiter that has no step to make).
                if (slot) slot->state = kSlotClaiming;
                if (ClaimOwnerField(threadId, slot)) return LockResult::kAcquired;
            }
            if (slot) slot->state = kSlotWaiting;
        }
        w.slot = slot;
        switch (WaitForOwnership(w)) {
            case WaitEnd::kOwned: return w.result;
            case WaitEnd::kGaveUp: return LockResult::kUnusable;
            case WaitEnd::kVanished: break;
        }
        // Our announcement vanished: start over.
        if (slot) slot->state = kSlotIdle;
        const Attempt attempt = TryEnterAs(threadId, slot);
        if (attempt == Attempt::kOwned) return LockResult::kAcquired;
        counted = attempt == Attempt::kCountedOnly;
    }
}

// ---- Waiting ----------------------------------------------------------------

Optex::WaitEnd Optex::WaitForOwnership(Waiter& w) noexcept {
    if (eventIsManual_) {
        w.polling = true;
        Report(OptexFinding::kEventNotAutoReset);
    }
    for (;;) {
        if (w.slot) w.slot->tick = Now();  // a waiter's sign of life
#ifdef DLMGR_SOAK_WRONG_LOCK
        // Built only for the soak to find: a wait that gives up after a
        // millisecond and takes the lock anyway.
        ::WaitForSingleObject(wakeEvent_, 1);
        ::InterlockedExchange(&shared_->ownerThreadId, w.threadId);
        HeldBy(w.slot);
        return WaitEnd::kOwned;
#endif
        const SliceEnd slice = WaitForWakeUp(w);
        if (slice == SliceEnd::kWakeUp && ActOnWakeUp(w)) return WaitEnd::kOwned;
        if (slice == SliceEnd::kTimeout) w.spentInRow = 0;
        WaitEnd end = WaitEnd::kOwned;
        if (LookAtLock(w, end)) return end;
        if (w.Expired()) {
            Withdraw(w.slot);
            return WaitEnd::kGaveUp;
        }
    }
}

Optex::SliceEnd Optex::WaitForWakeUp(Waiter& w) noexcept {
    const HANDLE event = wakeEvent_;
    // Read before the wait: a claim made after this, before the wake-up is
    // acted on, spends it.
    if (side_ != nullptr) w.epoch = side_->epoch;
    const LONG owner = shared_->ownerThreadId;
    const LONG life = w.slot && watchLives_ ? OwnersLife(owner, w.threadId, w.slot, w.lifeOver) : 0;
    bool ended = false;
    if (life != w.watched) {
        w.ownersLife = OpenLife(lockName_, life, ended);
        w.watched = w.ownersLife ? life : 0;
    }
    DWORD wait = WAIT_TIMEOUT;
    DWORD lifeWait = WAIT_TIMEOUT;  // the life's mutex returned by a wait: WAIT_OBJECT_0 or WAIT_ABANDONED
    if (ended) {
        lifeWait = WAIT_OBJECT_0;  // no handle of it is left anywhere
    } else if (w.polling) {
        // The event tells nothing by being set: the owner's life (or nothing)
        // is waited on for a moment, then the event looked at once.
        const DWORD poll = w.SliceMs() < kPollMs ? w.SliceMs() : kPollMs;
        if (w.watched) {
            lifeWait = ::WaitForSingleObject(w.ownersLife.get(), poll);
        } else {
            ::Sleep(poll);
        }
        if (lifeWait == WAIT_TIMEOUT) wait = ::WaitForSingleObject(event, 0);
    } else if (w.watched) {
        const HANDLE both[2] = {event, w.ownersLife.get()};
        wait = ::WaitForMultipleObjects(2, both, FALSE, w.SliceMs());
        if (wait == WAIT_OBJECT_0 + 1) lifeWait = WAIT_OBJECT_0;
        if (wait == WAIT_ABANDONED_0 + 1) lifeWait = WAIT_ABANDONED;
    } else {
        wait = ::WaitForSingleObject(event, w.SliceMs());
    }
    if (lifeWait == WAIT_OBJECT_0 || lifeWait == WAIT_ABANDONED) {
        // Over, for sure, unlike a look at the records: the look right after
        // acts on it. Its mutex, ours now, is let go at once, so that every
        // other watcher learns the same.
        if (!ended) EndedByWait(w.ownersLife.get(), lifeWait);
        w.lifeOver = life;
        w.suspected = owner;
        return SliceEnd::kLifeOver;
    }
    if (lifeWait == WAIT_FAILED) wait = WAIT_FAILED;
    if (wait == WAIT_OBJECT_0) return SliceEnd::kWakeUp;
    if (wait == WAIT_TIMEOUT) return SliceEnd::kTimeout;
    // A failed wait (a handle closed by a host's bug; WAIT_ABANDONED: the
    // event's value names a mutex now, given back) is never taken for a
    // release: the event is opened again by name, and meanwhile we look at
    // the lock every slice.
    const DWORD error = wait == WAIT_ABANDONED_0 ? ERROR_INVALID_HANDLE : ::GetLastError();
    if (wait == WAIT_ABANDONED_0) ::ReleaseMutex(event);
    if (!w.reportedFailure && waitFailed_ != nullptr) waitFailed_(error);
    w.reportedFailure = true;
    ReopenEvent(event);
    ::Sleep(w.SliceMs());
    return SliceEnd::kFailed;
}

LONG Optex::OwnersLife(LONG owner, LONG threadId, const OptexThreadSlot* self,
                       LONG ended) const noexcept {
    if (side_ == nullptr || owner == 0 || owner == threadId) return 0;
    for (const OptexThreadSlot& record : side_->slots) {
        const LONG life = record.life;
        if (&record == self || record.threadId != owner || !SurelyOwned(record.state) || life == 0 ||
            life == ended) {
            continue;
        }
        return life;
    }
    return 0;
}

bool Optex::ActOnWakeUp(Waiter& w) noexcept {
    if (w.slot != nullptr) {
        // Claiming, with a full barrier, before the epoch is read again: a
        // claim that moves the epoch after this finds us between two steps
        // and leaves the lock alone; one that moved it before, we find here.
        // Then the wake-up is spent: the claim owns the lock, or gave it back
        // with the wake-up it found, and ours may be one it made stale.
        ::InterlockedExchange(&w.slot->state, kSlotClaiming);
        if (side_->epoch != w.epoch) {
            w.slot->state = kSlotWaiting;
            w.spareOwner = shared_->ownerThreadId;
            w.claimNow = true;
            return false;
        }
    }
    if (ClaimOwnerField(w.threadId, w.slot)) {
        if (side_ != nullptr && NeedsSettling(w.slot)) SettleWhileOwning(w.threadId, w.slot);
        return true;
    }
    // Released to us, but the owner field names another: a recoverer took
    // the lock, a claimer died before taking the wake-up it left pending
    // (which this is: kept in hand for a takeover of it), or another program
    // set the event. Then the lock is looked at as after any slice.
    if (w.slot) w.slot->state = kSlotWaiting;
    w.spareOwner = shared_->ownerThreadId;
    if (++w.spentInRow >= kStrayWakeUpsInARow && !w.polling) {
        w.polling = true;
        Report(OptexFinding::kStrayWakeUps);
    }
    return false;
}

bool Optex::LookAtLock(Waiter& w, WaitEnd& end) noexcept {
    const LONG count = shared_->lockCount;
    // Our level is in lockCount while we wait: 0 means it was withdrawn.
    if (count == 0) {
        end = WaitEnd::kVanished;
        return true;
    }
    const LONG owner = shared_->ownerThreadId;
    ReportLongWait(w, owner, count);
    if (side_ == nullptr) return false;  // nothing to recover with
    // Kept for a second (ours hold it for a few steps: another program keeps
    // it, or one of ours is held up), recovery goes on without it.
    const bool keptLong = w.kept.KeptFor(recoveryMutex_.get(), kKeptMutexMs);
    if (keptLong) Report(OptexFinding::kRecoveryMutexKept);
    end = WaitEnd::kOwned;
    if (owner != 0) {
        w.unowned.Reset();
        w.claimNow = false;
        if (!ActsOn(JudgeOwner(owner, *side_, Taker(w.threadId, w.slot, false)))) {
            w.suspected = 0;
            return false;
        }
        // Never act on one look: the fields may have been half written (a
        // life found over is certain: the slice set suspected).
        if (w.suspected != owner) {
            w.suspected = owner;
            return false;
        }
        return TakeOverDeadOwner(w, owner, keptLong);
    }
    w.suspected = 0;
    const bool quiet = w.unowned.QuietFor(count, kUnownedQuietMs);
    if (!quiet && !w.claimNow) return false;
    w.claimNow = false;
    return ClaimUnowned(w, keptLong);
}

void Optex::ReportLongWait(Waiter& w, LONG owner, LONG count) noexcept {
    const DWORD waited = ::GetTickCount() - w.start;
    if (longWait_ == nullptr || w.toldLong || waited < kLongWaitMs) return;
    w.toldLong = true;
    OptexLongWait report;
    report.waitedMs = waited;
    report.levels = count;
    report.holder.threadId = static_cast<DWORD>(owner);
    if (owner != 0 && side_ != nullptr) {
        for (const OptexThreadSlot& record : side_->slots) {
            if (record.threadId != owner || !MayOwn(record.state)) continue;
            report.holder = IdentityOf(record);
            report.holderRecorded = true;
            // An owner's tick says since when it holds the lock.
            if (SurelyOwned(record.state)) report.heldMs = static_cast<DWORD>(Now() - record.tick);
            break;
        }
    }
    longWait_(report);
}

void Optex::Withdraw(OptexThreadSlot* slot) noexcept {
    // Our level, or none once the decrement is made.
    if (slot) slot->state = kSlotAnnouncing;
    const LONG remaining = ::InterlockedDecrement(&shared_->lockCount);
    // A release meant for us may have sent its wake-up: with nobody else
    // counted and nobody owning, it is nobody's, and taken back.
    if (remaining == 0 && shared_->ownerThreadId == 0) ::WaitForSingleObject(wakeEvent_, 0);
    if (slot) slot->state = kSlotIdle;
}

void Optex::Report(OptexFinding finding) noexcept {
    const LONG bit = 1L << static_cast<int>(finding);
    if (found_ == nullptr || (::InterlockedOr(&reported_, bit) & bit) != 0) return;
    found_(finding);
}

// ---- Recovery ---------------------------------------------------------------

bool Optex::TakeOverDeadOwner(Waiter& w, LONG ownerSeen, bool keptLong) noexcept {
    MutexHold hold(recoveryMutex_.get(), kWaitSliceMs);
    if (!hold && !keptLong) return false;
    const LONG threadId = w.threadId;
    OptexThreadSlot* slot = w.slot;
    OptexCensus census;
    if (!TakeCensus(*shared_, *side_, Taker(threadId, slot, false), kStaleRecordMs, census) ||
        census.ownerThreadId != ownerSeen || !ActsOn(census.owner)) {
        return false;
    }
    const DeadRecord share = census.ownerShare;
    // What the hold surely is (whole), and what may be left beyond it. An
    // owner that a released generation keeps a record of: nothing, since its
    // recoverer may have noted the hold and withdraws what it noted though
    // it lose the field to us.
    const OlderGenerations older(lockName_);
    const bool olderOwner = share.slot < 0 && older.HasOwnerRecord(ownerSeen);
    const LONG whole = olderOwner ? 0 : share.sure;
    // No wake-up is meant for anyone once the lock is ours: one left pending
    // (sent for a thread that died) is taken before the owner field changes,
    // or a waiter of an earlier build that arrives meanwhile takes it and
    // then the field. Given back if the lock is not taken over.
    const bool borrowed = ::WaitForSingleObject(wakeEvent_, 0) == WAIT_OBJECT_0;
    // An owner that died after its compare-exchange while its record still
    // said Waiting (claiming a lock nobody owned) may have left pending the
    // wake-up it meant to take, and a waiter of an earlier build that takes
    // it writes the owner field without a compare-exchange: the hold is
    // taken over only with that wake-up in hand (our wait took it), or with
    // no thread about that keeps no record, looked at after our take: one
    // that took it first shows in the handle counts.
    if (share.slot >= 0 && side_->slots[share.slot].state == kSlotWaiting && w.spareOwner != ownerSeen &&
        !OnlyRecordingPeers()) {
        if (borrowed) ::SetEvent(wakeEvent_);
        return false;
    }
    // Before the field changes: what may be left beyond the hold is counted,
    // and our own record notes the part of the hold that no record of the
    // owner's id will count once the field names us. Should we die at any
    // step from here, a recoverer finds every level accounted for, never
    // one counted twice; a racer that loses only overstates what may be
    // left. Nobody writes another thread's record before winning the field.
    const LONG noted = whole > census.ownerKinSure ? whole - census.ownerKinSure : 0;
    if (share.atMost > whole) ::InterlockedExchangeAdd(&side_->possiblePhantoms, share.atMost - whole);
    if (slot) {
        slot->heldLevels = noted;
        ::InterlockedExchange(&slot->state, kSlotTakingOver);
    } else if (whole > 0) {
        ::InterlockedExchangeAdd(&side_->possiblePhantoms, whole);  // no record to note it in
    }
    if (::InterlockedCompareExchange(&shared_->ownerThreadId, threadId, ownerSeen) != ownerSeen) {
        if (slot) {
            slot->state = kSlotWaiting;
            slot->heldLevels = 0;
        }
        if (borrowed) ::SetEvent(wakeEvent_);
        return false;
    }
    // The field is ours, and so are the dead owner's records (only an owner
    // frees them): the hold moves from our note and theirs to
    // possiblePhantoms, then out of lockCount. Its other records of its id
    // count at most one level from here (each may have been a waiter's),
    // its own none, and none stands for the field any longer, or a later
    // thread of its id that owned and died would be taken for it.
    if (slot && whole > 0) ::InterlockedExchangeAdd(&side_->possiblePhantoms, whole);
    for (int i = 0; i < census.deadCount; ++i) {
        OptexThreadSlot& record = side_->slots[census.dead[i].slot];
        if (record.threadId != ownerSeen || !MayOwn(record.state)) continue;
        if (census.dead[i].slot == share.slot) {
            record.heldLevels = 0;
            record.state = kSlotOwning;
            record.threadId = kTakenOverThreadId;
        } else if (OtherShare(census.dead[i].slot, record.state, record.heldLevels).sure > 0) {
            record.state = kSlotSpinning;
        }
    }
    if (olderOwner) older.MarkTakenOver(ownerSeen);
    shared_->recursionCount = 1;
    if (slot) {
        slot->heldLevels = 0;
        slot->state = kSlotOwning;
    }
    if (whole > 0) {
        ::InterlockedExchangeAdd(&shared_->lockCount, -whole);
        ::InterlockedExchangeAdd(&side_->possiblePhantoms, -whole);
    }
    if (hold) {
        Settle(threadId, slot);
    } else {
        SettleWhileOwning(threadId, slot);
    }
    ::InterlockedIncrement(&side_->takeovers);
    abandonedBy_ = census.owner.identity;
    w.result = LockResult::kAbandoned;
    return true;
}

bool Optex::ClaimUnowned(Waiter& w, bool keptLong) noexcept {
    // Nobody owns the lock while we wait. With no live thread between two
    // steps (one that has taken a wake-up says Claiming), no thread about
    // that writes the owner field without a compare-exchange, and no release
    // under way once the owner field is ours, no wake-up is on its way:
    // whatever levels lockCount holds beyond the live waiters' were left by
    // threads that died, and the lock is ours on our announcement.
    MutexHold hold(recoveryMutex_.get(), kWaitSliceMs);
    if (!hold && !keptLong) return false;
    const LONG threadId = w.threadId;
    OptexThreadSlot* slot = w.slot;
    OptexCensus census;
    if (!TakeCensus(*shared_, *side_, Taker(threadId, slot, false), kStaleRecordMs, census) ||
        census.liveThreadMidStep || census.ownerThreadId != 0) {
        return false;
    }
    const OlderGenerations older(lockName_);
    if (!peers_.OnlyRobust(OwnMarker(), older) || older.AnyLiveMidStep()) return false;
    // The epoch moves before the last look at the records: a waiter that has
    // taken a wake-up says Claiming before it reads the epoch, so either we
    // see it here and leave the lock to it, or it sees the epoch moved and
    // spends its wake-up.
    ::InterlockedIncrement(&side_->epoch);
    if (LiveThreadIn(slot, kSlotClaiming, kSlotClaiming)) return false;
    if (::InterlockedCompareExchange(&shared_->ownerThreadId, threadId, 0) != 0) return false;
    // A release that cleared the owner field just before our claim (by a
    // thread of ours, or of a released generation) may still owe its
    // wake-up: the claim is given back, and the lock waited for as before.
    bool kept = !LiveThreadIn(slot, kSlotReleasing, kSlotSignalling) && !older.AnyLiveMidStep();
    // A wake-up left pending goes with the claim, taken once no release is
    // under way (one that ended since the field became ours has sent its own
    // by then), and given back with it. A peer that writes the field without
    // a compare-exchange and arrived meanwhile shows in the handle counts
    // after it, or has written the owner field (its process may have ended
    // since).
    const bool borrowed = ::WaitForSingleObject(wakeEvent_, 0) == WAIT_OBJECT_0;
    kept = kept && peers_.OnlyRobust(OwnMarker(), older) && shared_->ownerThreadId == threadId;
    // A waiter may have taken a wake-up left pending before our claim after
    // reading the epoch the claim moved: its compare-exchange may come at any
    // time, inside our release too. The epoch moves again, and a live waiter
    // that says Claiming has the lock left to it.
    ::InterlockedIncrement(&side_->epoch);
    kept = kept && !LiveThreadIn(slot, kSlotClaiming, kSlotClaiming);
    if (!kept) {
        // The wake-up back while the field still names us: once it is
        // cleared, another claim may come and find none to borrow, and ours
        // would then be left beside its hold.
        if (borrowed) ::SetEvent(wakeEvent_);
        ::InterlockedCompareExchange(&shared_->ownerThreadId, 0, threadId);
        return false;
    }
    HeldBy(slot);
    if (hold) {
        Settle(threadId, slot);
    } else {
        SettleWhileOwning(threadId, slot);
    }
    ::InterlockedIncrement(&side_->takeovers);
    abandonedBy_ = ThreadIdentity();
    w.result = LockResult::kAcquired;
    return true;
}

// ---- Settling ---------------------------------------------------------------

void Optex::WithdrawDead(LONG counted, LONG levels, const OptexCensus* census) noexcept {
    if (counted != 0) ::InterlockedExchangeAdd(&side_->possiblePhantoms, counted);
    if (census != nullptr) {
        for (int i = 0; i < census->deadCount; ++i) FreeSlot(census->dead[i].slot);
    }
    if (levels == 0) return;
    ::InterlockedExchangeAdd(&shared_->lockCount, -levels);
    ::InterlockedExchangeAdd(&side_->possiblePhantoms, -levels);
}

void Optex::Settle(LONG threadId, OptexThreadSlot* slot) noexcept {
    // While we own the lock, lockCount moves only by steps that live threads
    // bracket with a state saying so (or by threads that keep no record,
    // which the handle counts show before and after: one may still be giving
    // back the level of a release whose cleared owner field we took): with
    // the records the same on both sides of the read of lockCount and no live
    // thread between two steps, lockCount less what live threads hold is what
    // the dead left.
    const bool peersBefore = OnlyRecordingPeers();
    OptexCensus census;
    // Every waiter's life is asked: a dead one's level goes at once.
    if (!TakeCensus(*shared_, *side_, Taker(threadId, slot, true), 0, census)) return;
    // Our levels and the waiters' are in lockCount and ours in
    // recursionCount: no run of the protocol leaves less while we own, a
    // stray write (or a peer's wrong settlement) did. They are set to the
    // least they can be, with the live waiters' levels when the census can
    // tell them.
    const bool told = census.snapshot && !census.liveThreadMidStep;
    const LONG own = census.recursionCount < 1 ? 1 : census.recursionCount;
    const LONG waiters = told ? census.liveLevels - census.recursionCount : 0;
    const LONG least = own + (waiters > 0 ? waiters : 0);
    if (census.recursionCount < 1 || census.lockCount < least) {
        if (census.recursionCount < 1) ::InterlockedExchange(&shared_->recursionCount, 1);
        if (census.lockCount < least) {
            ::InterlockedExchangeAdd(&shared_->lockCount, least - census.lockCount);
        }
        if (repaired_ != nullptr) repaired_(census.lockCount, census.recursionCount);
        return;
    }
    if (peersBefore && told && OnlyRecordingPeers()) {
        // Every level the dead left is in dead: none is left to count.
        const LONG dead = census.lockCount - census.liveLevels;
        WithdrawDead(dead, dead, &census);
        ::InterlockedExchange(&side_->possiblePhantoms, 0);
    } else {
        WithdrawDead(census.deadAtMost, census.deadSure, &census);
    }
}

bool Optex::ActsOn(const OwnerJudgement& judgement) const noexcept {
    // A running thread with a dead owner's id is a stranger to the lock only
    // if no thread keeps levels unrecorded: one of an earlier build would
    // take the field for its own on the id alone.
    return judgement.state == OwnerState::kGone &&
           (!judgement.namesakeRuns || OnlyRecordingPeers());
}

bool Optex::LiveThreadIn(const OptexThreadSlot* self, LONG state, LONG orState) const noexcept {
    for (const OptexThreadSlot& record : side_->slots) {
        const LONG seen = record.state;
        if (&record == self || (seen != state && seen != orState)) continue;
        if (!RecordDead(record, lockName_)) return true;
    }
    return false;
}

bool Optex::NeedsSettling(const OptexThreadSlot* self) noexcept {
    // A hint, read without the mutex. Live threads renew their records
    // (waiters every slice, others on each attempt), so a stale record
    // whose thread is between steps or waiting stands for a dead one, and
    // levels beyond what the owner and every record that may hold one
    // account for were left by a thread whose record is gone or that kept
    // none (or are held by one that keeps none, which the settlement then
    // finds out). possiblePhantoms alone is no reason: it counts what may be
    // left, and a level that is left shows as one beyond the records.
    const auto now = static_cast<DWORD>(Now());
    LONG accounted = shared_->recursionCount;
    for (const OptexThreadSlot& record : side_->slots) {
        const LONG state = record.state;
        if (&record == self || record.threadId == 0 || state == kSlotIdle ||
            state == kSlotUnclaimed) {
            continue;
        }
        if (now - static_cast<DWORD>(record.tick) >= kStaleRecordMs) return true;
        if (state != kSlotSignalling) ++accounted;
    }
    // Last, the kernel, in one call: a waiter that died lately.
    return shared_->lockCount > accounted ||
           (watchLives_ && waiterLives_.AnyEnded(*side_, self, lockName_));
}

void Optex::SettleWhileOwning(LONG threadId, OptexThreadSlot* slot) noexcept {
    // Held by us, the lock has no release on its way to anyone, so dead
    // threads' levels can be withdrawn without a wake-up going astray.
    MutexHold hold(recoveryMutex_.get(), 0);
    if (!hold) return;  // a recovery is under way; a later release looks again
    Settle(threadId, slot);
}

void Optex::ReopenEvent(HANDLE failed) noexcept {
    // The event is opened again by name once, by one thread, and the new
    // handle published for the others; the failed value may now name another
    // object of this process, so it is let go, never closed.
    if (side_ == nullptr || wakeEvent_ != failed || reopened_) return;
    MutexHold hold(recoveryMutex_.get(), 0);
    if (!hold || wakeEvent_ != failed || reopened_) return;
    reopened_.reset(::CreateEventA(nullptr, FALSE, FALSE, eventName_));
    if (!reopened_) return;
    // The one pointer-sized exchange: on this process's own handle, never on
    // a shared field (those are 32-bit in both builds).
    static_assert(sizeof(wakeEvent_) == sizeof(PVOID));
    ::InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&wakeEvent_), reopened_.get());
    event_.release();
}

void Optex::Leave() noexcept {
    if (shared_ == nullptr) return;
    OptexThreadSlot* slot = RegisteredSlot();
    if (slot == nullptr) CountLevelWithoutRecord(false);
    if (shared_->recursionCount > 1) {
        // Window: between these two steps lockCount is one above
        // recursionCount; Leaving tells a recoverer so.
        if (slot) slot->state = kSlotLeaving;
        const LONG left = --shared_->recursionCount;
        ::InterlockedDecrement(&shared_->lockCount);
        if (slot == nullptr) {
            DropMarkerWhenEmpty();
        } else if (slot->heldLevels != 0 && left == slot->heldLevels) {
            // Our last level on a hold through a copy that keeps no record.
            slot->heldLevels = 0;
            slot->state = kSlotIdle;
        } else {
            slot->state = kSlotOwning;
        }
        return;
    }
    if (side_ != nullptr && shared_->lockCount > 1 && NeedsSettling(slot)) {
        SettleWhileOwning(static_cast<LONG>(CurrentThreadId()), slot);
    }
    // Window: Releasing tells a recoverer that our level is 1 while the owner
    // field names us, then 0 or 1 until the decrement; Signalling, that it is
    // gone and a wake-up may still be owed. A running thread in either state
    // has a step to make, so nobody takes the lock from it meanwhile.
    if (slot) slot->state = kSlotReleasing;
    shared_->recursionCount = 0;
    ::InterlockedExchange(&shared_->ownerThreadId, 0);
    const LONG remaining = ::InterlockedDecrement(&shared_->lockCount);
    if (remaining > 0) {
        if (slot) slot->state = kSlotSignalling;
        SignalReleased();
    }
    if (slot) {
        if (slot->heldLevels != 0) slot->heldLevels = 0;
        slot->state = kSlotIdle;
    } else {
        DropMarkerWhenEmpty();
    }
}

void Optex::SignalReleased() noexcept {
    // Someone has announced itself; the auto-reset event releases exactly one.
    const HANDLE event = wakeEvent_;
    if (::SetEvent(event)) return;
    // This process's handle was closed by a host's bug: the wake-up goes
    // through a handle opened for it alone, and the event is opened again
    // for the next ones if the mutex is free.
    UniqueEvent once(::OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName_));
    if (once) ::SetEvent(once.get());
    ReopenEvent(event);
}

OptexGuard Optex::Acquire() noexcept { return OptexGuard(this, Enter()); }

ThreadIdentity Optex::Holder() const noexcept {
    ThreadIdentity holder;
    if (shared_ == nullptr) return holder;
    const LONG owner = shared_->ownerThreadId;
    holder.threadId = static_cast<DWORD>(owner);
    if (owner == 0 || side_ == nullptr) return holder;
    for (const OptexThreadSlot& record : side_->slots) {
        if (record.threadId == owner && MayOwn(record.state)) {
            holder.processId = static_cast<DWORD>(record.processId);
            break;
        }
    }
    return holder;
}

OptexGuard Optex::AcquireWithin(DWORD timeoutMs) noexcept {
    if (shared_ == nullptr) return OptexGuard();
    if (keptAtInit_) Report(OptexFinding::kRecoveryMutexKept);
    if (TryEnter()) return OptexGuard(this, LockResult::kAcquired);
    // Beside a thread that keeps no record of ours it only tries: an
    // announcement given back could leave a wake-up for it to take as its
    // own, with the owner field written without a compare-exchange.
    if (timeoutMs == 0 || side_ == nullptr || !OnlyRecordingPeers()) {
        const DWORD start = ::GetTickCount();
        while (::GetTickCount() - start < timeoutMs) {
            ::Sleep(1);
            if (TryEnter()) return OptexGuard(this, LockResult::kAcquired);
        }
        return OptexGuard();
    }
    const auto threadId = static_cast<LONG>(CurrentThreadId());
    OptexThreadSlot* slot = SlotForEnter();
    const Attempt attempt = TryEnterAs(threadId, slot);
    LockResult result = LockResult::kAcquired;
    if (attempt != Attempt::kOwned) {
        result = EnterContended(threadId, slot, attempt == Attempt::kCountedOnly, timeoutMs);
    }
    if (result == LockResult::kUnusable) {
        DropMarkerWhenEmpty();
        return OptexGuard();
    }
    if (RegisteredSlot() == nullptr) CountLevelWithoutRecord(true);
    return OptexGuard(this, result);
}

int Optex::UnrecordedProcesses(DWORD* processIds, int max) const noexcept {
    return side_ != nullptr ? peers_.Writers(processIds, max) : 0;
}

}  // namespace dlmgr
