// Optex: a named, re-entrant lock shared by the threads of every process that
// opens the same name. Free lock: two compare-exchanges (lockCount, then the
// owner field), as an earlier build's compare-exchange and exchange. Held
// lock: spin (multi-processor machines only), then announce and wait on a
// named auto-reset event that each release with waiters sets once.
//
// A thread that dies holding or waiting for the lock must not stop the
// others. Beside the 16-byte block that every build shares, each thread keeps
// a record (OptexSideBlock) of who it is and what it is doing with the lock,
// and owns a life mutex that tells others, for sure, when it has ended.
// Waiters wait in slices and look at the owner between slices; while the
// owner keeps a record, a waiter's wait also ends when the kernel abandons
// the owner's life mutex, and the owner that releases to waiters asks the
// kernel about theirs, so that a death is acted on when the kernel learns of
// it. An owner proven dead twice in a row (once, by its life mutex) is taken
// over by one waiter, under a recovery mutex; a lock that nobody has owned or released for a second, while every
// thread that uses it keeps a record and none has a step to make, is claimed
// by one waiter on its own level. Whoever owns the lock and finds dead
// threads' records, or levels they left (possiblePhantoms), settles them
// (OptexCensus): exactly, when a snapshot of the records shows every live
// thread's share, so that once the dead are accounted for a free lock reads
// 0 again. Every claim of the owner field is a compare-exchange from 0 (or,
// taking over, from the dead owner's id), so a late wake-up never makes two
// owners, and a claim of a lock nobody owns takes any pending wake-up with it
// and gives both back if a release turns out to be under way. A thread of an
// earlier build keeps no record: it shares the lock as before as long as
// nobody dies (one given a dead owner's id just as a waiter takes the lock
// over takes the owner's hold on its id alone: no look can see that coming);
// a thread whose id holds
// the lock through such a copy of the module in its own process takes its
// nested levels on that hold, as the copy would. A thread of ours that finds
// no record free holds a marker handle while it takes, holds or gives back
// levels, so that handle counts show it to every process.
//
// sync/optex.pml is this protocol as a model, step for step; the tests run
// the Spin model checker on it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sync/optex_process_share.h"
#include "sync/optex_shared.h"
#include "sync/optex_side.h"
#include "sync/thread_identity.h"
#include "sync/waiter_lives.h"
#include "win/handle_count.h"
#include "win/unique_resource.h"

namespace dlmgr {
struct CensusTaker;
struct OptexCensus;
struct OwnerJudgement;
class MutexHold;
}  // namespace dlmgr

namespace dlmgr {

class OptexGuard;

enum class LockResult {
    kUnusable,   // Init failed: nothing is held
    kAcquired,
    kAbandoned,  // held, taken over from a thread that died holding it
};

class Optex {
public:
    // Kernel object names are a prefix and the lock's name, built in 100-byte
    // buffers. Diagnostics open the mappings by the same names.
    static constexpr size_t kMaxObjectNameLength = 99;
    static constexpr char kEventPrefix[] = "Drelm_Optex_Event_";
    static constexpr char kMappingPrefix[] = "Drelm_Optex_MMF_";
    static constexpr char kSidePrefix[] = "Dlmgr_Optex_Side_";
    static constexpr char kRecoveryPrefix[] = "Dlmgr_Optex_Recovery_";
    // A waiter looks at the owner at least this often.
    static constexpr DWORD kWaitSliceMs = 100;
    // A waiter renews its record every slice; one older than this may be dead.
    static constexpr DWORD kStaleRecordMs = 3 * kWaitSliceMs;
    // How long a lock that nobody owns nor releases is left to the thread
    // that may be about to claim it.
    static constexpr DWORD kUnownedQuietMs = 1000;

    Optex() = default;
    Optex(const Optex&) = delete;
    Optex& operator=(const Optex&) = delete;
    ~Optex() { Destroy(); }

    // True when the event, the mapping and the view all exist. The name is
    // ANSI text, or wide text when nameIsWide. processorCount is the machine's
    // unless a caller needs to act as another machine. Recovery from dead
    // threads needs the side block too; without it the lock still works.
    bool Init(const void* name, bool nameIsWide, DWORD spinCount,
              DWORD processorCount = SystemProcessorCount());
    void Destroy() noexcept;
    bool IsUsable() const noexcept { return shared_ != nullptr; }
    bool IsRobust() const noexcept { return side_ != nullptr; }

    void SetSpinCount(DWORD spinCount) noexcept;
    // Whether waiters watch their owner's life mutex and owners their
    // waiters' (the default). Off, deaths are found only by the slices and
    // stale records, as before: the benchmark compares the two.
    void SetLifeWatch(bool watch) noexcept { watchLives_ = watch; }
    // True when the calling thread now holds the lock (possibly once more).
    bool TryEnter() noexcept;
    // Returns once the calling thread holds the lock.
    LockResult Enter() noexcept;
    // Gives up one level held by the calling thread.
    void Leave() noexcept;

    // Enter, with a guard that leaves when it goes out of scope.
    OptexGuard Acquire() noexcept;
    // For callers that would rather do without than wait on a live holder:
    // tries the lock until timeoutMs has passed and gives up (an empty
    // guard). Nothing is announced while it tries, so giving up leaves no
    // trace. A holder proven gone, or a lock left unowned with levels, on two
    // looks a slice apart is left to Enter, which recovers it.
    OptexGuard AcquireWithin(DWORD timeoutMs) noexcept;

    // Called when a wait on the event fails (a handle closed by a host's
    // bug), once per Enter, while not holding the lock. The waiter never
    // takes a failed wait for a release: it looks at the lock every slice.
    using WaitFailureHandler = void (*)(DWORD error);
    void SetWaitFailureHandler(WaitFailureHandler handler) noexcept { waitFailed_ = handler; }
    // Called once per Enter whose wait has lasted kLongWaitMs while the lock
    // has an owner (a stuck or suspended host, or a dead one while recovery
    // cannot be had), with who it is and how long the wait has lasted; the
    // wait goes on.
    static constexpr DWORD kLongWaitMs = 10000;
    using LongWaitHandler = void (*)(const ThreadIdentity& holder, DWORD waitedMs);
    void SetLongWaitHandler(LongWaitHandler handler) noexcept { longWait_ = handler; }

    // Called when the owner finds values no run of the protocol makes (a
    // host's stray write into the block), with the values found, after they
    // are set right.
    using RepairHandler = void (*)(LONG lockCount, LONG recursionCount);
    void SetRepairHandler(RepairHandler handler) noexcept { repaired_ = handler; }

    // Who owns the lock as far as the records tell (the process id is 0 for
    // an owner that keeps no record); empty when nobody does.
    ThreadIdentity Holder() const noexcept;

    // Frees the calling thread's record when it holds nothing; for a thread
    // that is ending. Records of threads that end otherwise are reused later.
    // Every Optex of the name in the process shares the thread's record, so
    // once is enough.
    void ForgetCurrentThread() noexcept;

    // The shared blocks, for diagnostics; null when absent.
    const OptexShared* Shared() const noexcept { return shared_; }
    const OptexSideBlock* Side() const noexcept { return side_; }
    // Who held the lock before the calling thread's last takeover; read it
    // while still holding the lock that Enter reported kAbandoned for.
    const ThreadIdentity& AbandonedBy() const noexcept { return abandonedBy_; }

    static DWORD SystemProcessorCount() noexcept;

private:
    // How TryEnterAs went: the lock taken; held by another; or counted (our
    // level is in lockCount) while another claimed the owner field first.
    enum class Attempt { kOwned, kBusy, kCountedOnly };

    void InitRecovery(const char* name) noexcept;
    // True when every thread with the lock open keeps a record: every
    // process with it open keeps records, and no thread of ours is without.
    bool OnlyRecordingPeers() const noexcept;
    // This thread's value of its record's TLS slot (see kNoSlot).
    std::uintptr_t SlotValue() const noexcept;
    OptexThreadSlot* RegisteredSlot() const noexcept;
    // Whether the owner field's id, which is ours, stands for our hold.
    bool HoldsWithoutRecord() const noexcept;
    void CountLevelWithoutRecord(bool taken) noexcept;
    OptexThreadSlot* SlotForEnter() noexcept;
    void DropMarkerWhenEmpty() noexcept;
    OptexThreadSlot* ClaimSlotForThread() noexcept;
    int ClaimSlot(const ThreadIdentity& me) noexcept;
    // A thread with no record holds a second handle of the shared block
    // while it has none, so that handle counts show it to every process.
    void SetMarker(bool marked) noexcept;
    void FreeSlot(int index) noexcept;
    int IndexOf(const OptexThreadSlot* slot) const noexcept;
    CensusTaker Taker(LONG threadId, const OptexThreadSlot* slot, bool owns) const noexcept;

    Attempt TryEnterAs(LONG threadId, OptexThreadSlot* slot) noexcept;
    void Reenter(OptexThreadSlot* slot) noexcept;
    // A level on a hold of our id that our record does not know; false when
    // the hold was taken over from a dead namesake before we got to it.
    bool ReenterAsGuest(LONG threadId, OptexThreadSlot* slot) noexcept;
    // recursionCount 1, and since when the new owner holds the lock.
    void HeldBy(OptexThreadSlot* slot) noexcept;
    bool ClaimOwnerField(LONG threadId, OptexThreadSlot* slot) noexcept;
    LockResult EnterContended(LONG threadId, OptexThreadSlot* slot, bool counted) noexcept;
    // False when our announcement vanished and the caller must start over.
    bool WaitForOwnership(LONG threadId, OptexThreadSlot* slot, LockResult& result) noexcept;
    // A slice's wait for a wake-up: WAIT_OBJECT_0 once taken (with the
    // recovery mutex in woken, when the lock keeps records), WAIT_TIMEOUT, or
    // a failure (WAIT_ABANDONED: the event's value names a mutex, given back).
    DWORD WaitForWakeUp(HANDLE event, MutexHold& woken) noexcept;
    // The life of the thread the owner field names, when a record of ours
    // other than self says it surely owns and its life is not known to have
    // ended; 0 otherwise. Never a claimer's: a waiter watching it says
    // Claiming, and the claim would be given back to it, again and again.
    LONG OwnersLife(LONG owner, LONG threadId, const OptexThreadSlot* self, LONG ended) const noexcept;
    // A slice's wait for a wake-up (taken alone, Claiming) or for the end of
    // the owner's life: WAIT_OBJECT_0 once the wake-up is taken; kLifeOver,
    // the life's mutex then held in over; otherwise as WaitForWakeUp.
    static constexpr DWORD kLifeOver = WAIT_OBJECT_0 + 1;
    DWORD WaitForWakeUpOrEnd(HANDLE event, HANDLE life, OptexThreadSlot* slot, MutexHold& over) noexcept;
    // A pending wake-up taken without the recovery mutex; results as above.
    DWORD TakeWakeUpAlone(HANDLE event, OptexThreadSlot* slot) noexcept;
    void ReopenEvent(HANDLE failed) noexcept;

    // Whether a judgement of gone is sure enough to take the lock on.
    bool ActsOn(const OwnerJudgement& judgement) const noexcept;
    // wakeUpInHand: our wait took a wake-up while the owner field named it.
    bool TakeOverDeadOwner(LONG threadId, OptexThreadSlot* slot, LONG ownerSeen, bool wakeUpInHand,
                           LockResult& result) noexcept;
    // Under the recovery mutex, before a takeover of owner: its other dead
    // records that count a level (Claiming, Waiting) hold surely none from
    // here, at most one; all but noted.
    void KeepOnlyAtMost(const OptexCensus& census, int noted, LONG owner) noexcept;
    bool ClaimUnowned(LONG threadId, OptexThreadSlot* slot) noexcept;
    // A live thread other than self whose record says state or orState:
    // Releasing or Signalling, between clearing the owner field and sending
    // its wake-up; Claiming, one that took a wake-up without the recovery
    // mutex (or counted itself into a free lock) and claims the field.
    bool LiveThreadIn(const OptexThreadSlot* self, LONG state, LONG orState) const noexcept;
    // After a wake-up taken alone: the owner field once a claim gives it back.
    bool ClaimOwnerFieldGivenBack(LONG threadId, OptexThreadSlot* slot) noexcept;
    // Holding the lock and the recovery mutex: withdraws what dead threads
    // left in lockCount and frees their records.
    void Settle(LONG threadId, OptexThreadSlot* slot) noexcept;
    bool NeedsSettling(const OptexThreadSlot* self) noexcept;
    void SettleWhileOwning(LONG threadId, OptexThreadSlot* slot) noexcept;
    // Withdraws levels dead threads left: counted of them are added to
    // possiblePhantoms first and the records of census's dead freed (when
    // given) before levels are taken from lockCount, so that a death at any
    // step leaves every dead level accounted for.
    void WithdrawDead(LONG counted, LONG levels, const OptexCensus* census) noexcept;
    void SignalReleased() noexcept;

    bool singleProcessor_ = false;
    char eventName_[kMaxObjectNameLength + 1] = {};  // to open the event again after a failed wait
    UniqueEvent event_;
    UniqueEvent reopened_;                 // the event opened again after a failed wait
    HANDLE volatile wakeEvent_ = nullptr;  // the one of the two in use
    UniqueMapping mapping_;
    UniqueView view_;
    OptexShared* shared_ = nullptr;  // view_ as the shared block, only when all three exist

    UniqueMapping sideMapping_;
    UniqueView sideView_;
    UniqueMutex recoveryMutex_;  // serialises takeovers, settlements and record claims
    HandleCounter handles_;
    OptexProcessShare process_;
    DWORD slotTls_ = TLS_OUT_OF_INDEXES;    // per thread: index + 1 of its record; kNoSlot when it has none
    DWORD markerTls_ = TLS_OUT_OF_INDEXES;  // per thread without a record: its marker handle
    char lockName_[kMaxObjectNameLength + 1] = {};  // names the life mutexes
    OptexSideBlock* side_ = nullptr;  // only when all of the above exist
    ThreadIdentity abandonedBy_;
    WaitFailureHandler waitFailed_ = nullptr;
    LongWaitHandler longWait_ = nullptr;
    RepairHandler repaired_ = nullptr;
    // Last: only a contended release reads them, and the fast path's members
    // above stay within a cache line or two.
    WaiterLives waiterLives_;  // used by the owner only
    bool watchLives_ = true;
};

// One level of an Optex held by the current thread; empty when Enter failed.
class OptexGuard {
public:
    OptexGuard() noexcept = default;
    OptexGuard(Optex* lock, LockResult result) noexcept
        : lock_(result == LockResult::kUnusable ? nullptr : lock),
          abandoned_(result == LockResult::kAbandoned) {}
    OptexGuard(const OptexGuard&) = delete;
    OptexGuard& operator=(const OptexGuard&) = delete;
    OptexGuard(OptexGuard&& other) noexcept : lock_(other.lock_), abandoned_(other.abandoned_) {
        other.lock_ = nullptr;
    }
    OptexGuard& operator=(OptexGuard&&) = delete;
    ~OptexGuard() {
        if (lock_) lock_->Leave();
    }
    explicit operator bool() const noexcept { return lock_ != nullptr; }
    // The lock was taken over from a thread that died holding it: what it
    // guards may be half changed.
    bool abandoned() const noexcept { return abandoned_; }

private:
    Optex* lock_ = nullptr;
    bool abandoned_ = false;
};

}  // namespace dlmgr
