// Optex: a named, re-entrant lock shared by the threads of every process that
// opens the same name. Free lock: two compare-exchanges (lockCount, then the
// owner field), as an earlier build's compare-exchange and exchange. Held
// lock: spin (multi-processor machines only), then announce and wait on a
// named auto-reset event that each release with waiters sets once.
//
// Only a live thread that holds the lock (or is taking it) may keep others
// waiting: a thread may die, or stop for any time, at any step; another
// program may open, hold, wait on or set any of the lock's objects. Beside
// the 16-byte block that every build shares, each thread keeps a record
// (OptexSideBlock) of what it is doing with the lock, and owns a life mutex
// that the kernel abandons when it ends. A waiter's wait also ends when its
// owner's life does, and it looks at the owner every slice; an owner proven
// gone (by its life, or, when another program holds the life, by its
// thread's identity) is taken over by a compare-exchange of the owner field
// from its id, the one decision, after which the winner alone settles what
// the dead owner held (noted first in its own record: nobody writes another
// thread's record before winning). A lock that nobody owns while threads
// wait (a wake-up lost with a dying releaser, or taken by another program)
// is claimed by a compare-exchange from 0 when no live thread is between
// two steps and no thread that writes the owner field without a
// compare-exchange is about. A wake-up is acted on only if no claim was made
// since its wait began (the side block's epoch), after its taker said
// Claiming: so a claim never lands beside a waiter that holds a wake-up it
// has yet to act on, and a waiter held up anywhere else stops nobody. The
// recovery mutex only spares recoverers each other's work: kept by anyone
// for a second, recovery goes on without it. Whoever owns the lock and
// finds dead threads' records, or levels they left (possiblePhantoms),
// settles them (OptexCensus): exactly, when a snapshot of the records shows
// every live thread's share, so that once the dead are accounted for a free
// lock reads 0 again. A thread of an earlier build, or of another
// generation, keeps no record of ours: it shares the lock as before, and
// sync/older_generations.h says what we do beside the released robust
// ones. A thread of ours that finds no record free holds a marker handle
// while it takes, holds or gives back levels, so that handle counts show it
// to every process.
//
// sync/optex.pml is this protocol as a model, step for step; the tests run
// the Spin model checker on it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sync/optex_peers.h"
#include "sync/optex_process_share.h"
#include "sync/optex_shared.h"
#include "sync/optex_side.h"
#include "sync/thread_identity.h"
#include "sync/waiter_lives.h"
#include "win/unique_resource.h"

namespace dlmgr {
struct CensusTaker;
struct OptexCensus;
struct OwnerJudgement;
}  // namespace dlmgr

namespace dlmgr {

class OptexGuard;

enum class LockResult {
    kUnusable,   // Init failed: nothing is held
    kAcquired,
    kAbandoned,  // held, taken over from a thread that died holding it
};

// What the lock found of its surroundings that is not as the module makes it:
// each is reported once per instance, through the finding handler.
enum class OptexFinding {
    kEventNotAutoReset,  // another program made the wake-up event manual-reset: waiters poll it
    kStrayWakeUps,       // wake-ups with no release behind them: another program sets the event
    kRecoveryMutexKept,  // kept for a second by another: recovery goes on without it
};

// A wait that has lasted long, as the waiter sees the lock.
struct OptexLongWait {
    DWORD waitedMs = 0;
    // The owner field's thread, and its process and creation time as its
    // record tells them; threadId 0: nobody owns the lock.
    ThreadIdentity holder;
    bool holderRecorded = false;  // false: the owner keeps no record of ours
    DWORD heldMs = 0;             // since when the owner holds, by its record; 0 when unknown
    LONG levels = 0;              // lockCount as seen
};

class Optex {
public:
    // Kernel object names are a prefix and the lock's name, built in 100-byte
    // buffers (the robust lock's in 128). Diagnostics open them by the same
    // names. The robust lock's carry the generation of its rules.
    static constexpr size_t kMaxObjectNameLength = 99;
    static constexpr char kEventPrefix[] = "Drelm_Optex_Event_";
    static constexpr char kMappingPrefix[] = "Drelm_Optex_MMF_";
    static constexpr char kSidePrefix[] = "Dlmgr_Optex4_Side_";
    static constexpr char kRecoveryPrefix[] = "Dlmgr_Optex4_Recovery_";
    // A waiter looks at the owner at least this often.
    static constexpr DWORD kWaitSliceMs = 100;
    // A waiter renews its record every slice; one older than this may be dead.
    static constexpr DWORD kStaleRecordMs = 3 * kWaitSliceMs;
    // How long a lock that nobody owns nor releases is left to the thread
    // that may be about to claim it.
    static constexpr DWORD kUnownedQuietMs = 1000;
    // How long the recovery mutex may be kept by another before recovery
    // goes on without it.
    static constexpr DWORD kKeptMutexMs = 1000;

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
    // Enter for callers that must not wait for good (the loader's lock is
    // held): waits its turn as Enter does, recovering what Enter recovers,
    // and gives up cleanly (an empty guard) once timeoutMs has passed. Beside
    // a thread that keeps no record of ours it only tries, never announcing
    // itself, since giving an announcement back could leave a wake-up for
    // such a thread to take as its own.
    OptexGuard AcquireWithin(DWORD timeoutMs) noexcept;

    // Called when a wait on the event fails (a handle closed by a host's
    // bug), once per Enter, while not holding the lock. The waiter never
    // takes a failed wait for a release: it looks at the lock every slice.
    using WaitFailureHandler = void (*)(DWORD error);
    void SetWaitFailureHandler(WaitFailureHandler handler) noexcept { waitFailed_ = handler; }
    // Called once per Enter whose wait has lasted kLongWaitMs (a stuck or
    // suspended holder, one that keeps no record, or a lock nobody owns that
    // cannot yet be recovered), and every kLongWaitMs after; the wait goes on.
    static constexpr DWORD kLongWaitMs = 10000;
    using LongWaitHandler = void (*)(const OptexLongWait& wait);
    void SetLongWaitHandler(LongWaitHandler handler) noexcept { longWait_ = handler; }
    // Called once per instance for each finding, while not holding the lock.
    using FindingHandler = void (*)(OptexFinding finding);
    void SetFindingHandler(FindingHandler handler) noexcept { found_ = handler; }

    // Called when the owner finds values no run of the protocol makes (a
    // host's stray write into the block), with the values as found, before
    // they are set right.
    using RepairHandler = void (*)(LONG lockCount, LONG recursionCount);
    void SetRepairHandler(RepairHandler handler) noexcept { repaired_ = handler; }

    // Who owns the lock as far as the records tell; threadId 0 when nobody
    // does, processId 0 when the owner keeps no record of ours.
    ThreadIdentity Holder() const noexcept;
    // Processes that hold the lock's block for writing and keep no record of
    // ours (at most max), as far as the system tells; for diagnostics.
    int UnrecordedProcesses(DWORD* processIds, int max) const noexcept;

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
    // How a wait for ownership ended.
    enum class WaitEnd { kOwned, kVanished, kGaveUp };
    // How a slice's wait ended.
    enum class SliceEnd { kWakeUp, kLifeOver, kTimeout, kFailed };
    struct Waiter;

    void InitRecovery(const char* name) noexcept;
    // True when every thread with the lock open keeps a record: every
    // process with it open keeps records, and no thread of ours is without.
    bool OnlyRecordingPeers() const noexcept;
    ULONG OwnMarker() const noexcept;
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
    // Reuses the records of dead threads that surely hold no level, once
    // every record is taken; under the recovery mutex.
    void ReuseDeadSlots() noexcept;
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
    LockResult EnterContended(LONG threadId, OptexThreadSlot* slot, bool counted, DWORD timeoutMs) noexcept;
    // Our level is in lockCount, our record says Waiting: returns once we own
    // it, once our announcement has vanished (start over), or, for a bounded
    // wait, once it has been given back at the deadline.
    WaitEnd WaitForOwnership(Waiter& w) noexcept;
    // One slice's wait for a wake-up, or for the end of the owner's life.
    SliceEnd WaitForWakeUp(Waiter& w) noexcept;
    // The life of the thread the owner field names, when a record of ours
    // other than self says it surely owns and its life is not known to have
    // ended; 0 otherwise.
    LONG OwnersLife(LONG owner, LONG threadId, const OptexThreadSlot* self, LONG ended) const noexcept;
    // A wake-up taken: the owner field claimed with it, if no claim was made
    // since the wait began. False when it is spent.
    bool ActOnWakeUp(Waiter& w) noexcept;
    // After a slice: takes a dead owner over, claims a lock nobody owns,
    // reports a long wait. True when the wait is over, as end says.
    bool LookAtLock(Waiter& w, WaitEnd& end) noexcept;
    void ReportLongWait(Waiter& w, LONG owner, LONG count) noexcept;
    // Our announcement given back at a bounded wait's deadline.
    void Withdraw(OptexThreadSlot* slot) noexcept;
    void ReopenEvent(HANDLE failed) noexcept;
    void Report(OptexFinding finding) noexcept;

    // Whether a judgement of gone is sure enough to take the lock on.
    bool ActsOn(const OwnerJudgement& judgement) const noexcept;
    // Recoveries are made under the recovery mutex, or without it once it
    // has been kept by another for kKeptMutexMs (keptLong).
    bool TakeOverDeadOwner(Waiter& w, LONG ownerSeen, bool keptLong) noexcept;
    bool ClaimUnowned(Waiter& w, bool keptLong) noexcept;
    // A live thread other than self whose record says state or orState.
    bool LiveThreadIn(const OptexThreadSlot* self, LONG state, LONG orState) const noexcept;
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
    UniqueMutex recoveryMutex_;  // spares recoverers each other's work; never needed for long
    OptexPeers peers_;
    OptexProcessShare process_;
    DWORD slotTls_ = TLS_OUT_OF_INDEXES;    // per thread: index + 1 of its record; kNoSlot when it has none
    DWORD markerTls_ = TLS_OUT_OF_INDEXES;  // per thread without a record: its marker handle
    char lockName_[kMaxObjectNameLength + 1] = {};  // names the life mutexes
    OptexSideBlock* side_ = nullptr;  // only when all of the above exist
    ThreadIdentity abandonedBy_;
    WaitFailureHandler waitFailed_ = nullptr;
    LongWaitHandler longWait_ = nullptr;
    RepairHandler repaired_ = nullptr;
    FindingHandler found_ = nullptr;
    // Last: only a contended path reads them, and the fast path's members
    // above stay within a cache line or two.
    WaiterLives waiterLives_;  // used by the owner only
    volatile LONG reported_ = 0;  // findings reported, one bit each
    bool watchLives_ = true;
    bool eventIsManual_ = false;  // the wake-up event found manual-reset at Init
    bool keptAtInit_ = false;     // the recovery mutex kept by another at Init
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
