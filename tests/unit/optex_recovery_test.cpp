// An Optex whose holder or waiter dies: processes killed, threads ended, and
// the half-written states a death leaves, planted directly. Caps are
// generous; the benchmark reports how fast recovery really is.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "sync/optex.h"
#include "tests/support/child_process.h"
#include "tests/support/legacy_optex.h"
#include "tests/support/lock_blocks.h"
#include "tests/support/test_sync.h"

namespace dlmgr {
namespace {

using test::ChildProcess;
using test::InitLock;
using test::LockCount;
using test::LockBlocks;
using test::NamedEvent;
using test::UniqueName;

constexpr int kAcquired = 10;
constexpr int kAbandoned = 12;
constexpr DWORD kRecoveryCapMs = 5000;

int ExitCodeOf(LockResult result) {
    return result == LockResult::kAbandoned ? kAbandoned
                                            : result == LockResult::kAcquired ? kAcquired : 1;
}

// Enters, signals "<tag>-in" and holds the lock until it is killed.
DLMGR_CHILD_SCENARIO(OptexHoldUntilKilled) {
    Optex lock;
    ASSERT_TRUE(InitLock(lock, args.at(0)));
    ASSERT_NE(lock.Enter(), LockResult::kUnusable);
    NamedEvent(args.at(1) + "-in").Signal();
    ::Sleep(test::kChildTimeoutMs);
}

// Enters (waiting as long as it takes), leaves; the exit code tells how it got in.
DLMGR_CHILD_SCENARIO(OptexEnterOnce) {
    Optex lock;
    ASSERT_TRUE(InitLock(lock, args.at(0)));
    const LockResult result = lock.Enter();
    lock.Leave();
    ::ExitProcess(ExitCodeOf(result));
}

// Holds the lock for a while, then checks nobody took it meanwhile.
DLMGR_CHILD_SCENARIO(OptexHoldFor) {
    Optex lock;
    ASSERT_TRUE(InitLock(lock, args.at(0)));
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);
    NamedEvent(args.at(1) + "-in").Signal();
    ::Sleep(static_cast<DWORD>(std::stoul(args.at(2))));
    EXPECT_EQ(lock.Shared()->ownerThreadId, static_cast<LONG>(::GetCurrentThreadId()));
    EXPECT_EQ(lock.Shared()->recursionCount, 1);
    NamedEvent(args.at(1) + "-done").Signal();
    lock.Leave();
}

void KillAndReap(ChildProcess& child) {
    ::TerminateProcess(child.handle(), 1);
    ::WaitForSingleObject(child.handle(), test::kSignalTimeoutMs);
}

void ExpectKilledHolderTakenOverOnce(bool holderOfTheOtherSize) {
    const std::string name = UniqueName("optex-killed-holder");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    ChildProcess holder = ChildProcess::StartIn(test::TestProgram(holderOfTheOtherSize),
                                                "OptexHoldUntilKilled", {name, name});
    ASSERT_TRUE(NamedEvent(name + "-in").Await());
    // Two waiters watch the holder's life: the one that finds it over first
    // takes the lock over, the other gets it from that one.
    ChildProcess first = ChildProcess::Start("OptexEnterOnce", {name});
    ChildProcess second = ChildProcess::Start("OptexEnterOnce", {name});
    ASSERT_TRUE(test::WaitUntil([&] { return LockCount(lock) == 3; }));

    KillAndReap(holder);
    const int codes = first.Wait(kRecoveryCapMs) + second.Wait(kRecoveryCapMs);
    EXPECT_EQ(codes, kAbandoned + kAcquired);
    EXPECT_EQ(lock.Side()->takeovers, 1);
    EXPECT_EQ(LockCount(lock), 0);
    EXPECT_EQ(lock.Enter(), LockResult::kAcquired) << "one takeover per death";
    lock.Leave();
}

TEST(OptexRecovery, HolderKilledIsTakenOverOnceAndTheTakerIsTold) {
    ExpectKilledHolderTakenOverOnce(false);
}

DLMGR_CHILD_SCENARIO(OptexWaitUntilKilled) {
    Optex lock;
    ASSERT_TRUE(InitLock(lock, args.at(0)));
    lock.Enter();
    ADD_FAILURE() << "got a lock held by a live parent";
}

void ExpectKilledWaiterLeavesNoLevel(bool waiterOfTheOtherSize, bool watch = true) {
    const std::string name = UniqueName("optex-killed-waiter");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    lock.SetLifeWatch(watch);
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);
    ChildProcess waiter = ChildProcess::StartIn(test::TestProgram(waiterOfTheOtherSize),
                                                "OptexWaitUntilKilled", {name});
    LockBlocks blocks(name);
    // Waiting, or Claiming while it watches our life.
    const DWORD waiterId = ::GetProcessId(waiter.handle());
    ASSERT_TRUE(test::WaitUntil([&] {
        return blocks.FindRecord(waiterId, kSlotWaiting) >= 0 ||
               blocks.FindRecord(waiterId, kSlotClaiming) >= 0;
    }));
    KillAndReap(waiter);

    // Our release asks the kernel about the waiters' lives and withdraws the
    // dead one's announcement at once: the free lock reads 0 again, and the
    // compare-exchange alone takes it. With the watch off, that waits for the
    // record to go stale.
    lock.Leave();
    if (watch) {
        EXPECT_EQ(LockCount(lock), 0);
    } else {
        EXPECT_TRUE(test::WaitUntil(
            [&] {
                lock.Enter();
                lock.Leave();
                return LockCount(lock) == 0;
            },
            kRecoveryCapMs));
    }
    EXPECT_TRUE(lock.TryEnter());
    EXPECT_EQ(LockCount(lock), 1);
    lock.Leave();
    EXPECT_EQ(lock.Side()->takeovers, 0) << "the owner was alive throughout";
}

TEST(OptexRecovery, WaiterKilledLeavesNoLevelSoTheFreeLockReadsZeroAgain) {
    ExpectKilledWaiterLeavesNoLevel(false);
    ExpectKilledWaiterLeavesNoLevel(false, false);
}

// The thread records of both builds are one format: run from each build,
// these cover a 64-bit holder or waiter dying beside 32-bit survivors and
// the reverse.
TEST(OptexRecovery, HolderOrWaiterOfTheOtherPointerSizeKilledIsRecovered) {
    DLMGR_REQUIRE_OTHER_BUILD();
    ExpectKilledHolderTakenOverOnce(true);
    ExpectKilledWaiterLeavesNoLevel(true);
}

struct HoldForever {
    Optex* lock;
    HANDLE in;
};

DWORD WINAPI EnterAndSleep(void* parameter) {
    auto* hold = static_cast<HoldForever*>(parameter);
    hold->lock->Enter();
    ::SetEvent(hold->in);
    ::Sleep(INFINITE);
    return 0;
}

// A thread of this process takes the lock and is ended by TerminateThread.
void HolderThreadEnded(Optex& lock) {
    UniqueEvent in(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HoldForever hold = {&lock, in.get()};
    UniqueThread thread(::CreateThread(nullptr, 0, EnterAndSleep, &hold, 0, nullptr));
    ASSERT_EQ(::WaitForSingleObject(in.get(), test::kSignalTimeoutMs), WAIT_OBJECT_0);
    ::TerminateThread(thread.get(), 1);
    ::WaitForSingleObject(thread.get(), test::kSignalTimeoutMs);
}

TEST(OptexRecovery, HolderThreadEndedByTerminateThreadFreesItsOwnProcessAndOthers) {
    const std::string name = UniqueName("optex-ended-thread");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));

    HolderThreadEnded(lock);
    EXPECT_EQ(test::RunChild("OptexEnterOnce", {name}, {}, kRecoveryCapMs), kAbandoned)
        << "another process";
    EXPECT_EQ(lock.Enter(), LockResult::kAcquired);
    lock.Leave();

    HolderThreadEnded(lock);
    EXPECT_EQ(lock.Enter(), LockResult::kAbandoned) << "the holder's own process";
    EXPECT_EQ(lock.AbandonedBy().processId, ::GetCurrentProcessId());
    EXPECT_EQ(LockCount(lock), 1);
    lock.Leave();
    EXPECT_EQ(lock.Side()->takeovers, 2);
}

TEST(OptexRecovery, LiveHolderKeepingTheLockThreeSecondsIsNotRobbed) {
    const std::string name = UniqueName("optex-long-holder");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    NamedEvent in(name + "-in"), done(name + "-done");
    ChildProcess holder = ChildProcess::Start("OptexHoldFor", {name, name, "3000"});
    ASSERT_TRUE(in.Await());
    EXPECT_EQ(lock.Enter(), LockResult::kAcquired);
    EXPECT_TRUE(done.IsSignalled()) << "got in before the holder left";
    lock.Leave();
    EXPECT_EQ(holder.Wait(), 0);
    EXPECT_EQ(lock.Side()->takeovers, 0);
}

DWORD WINAPI DoNothing(void*) { return 0; }

struct TryAs {
    Optex* lock;
    HANDLE go;
    bool entered;
};

DWORD WINAPI TryWhenTold(void* parameter) {
    auto* attempt = static_cast<TryAs*>(parameter);
    ::WaitForSingleObject(attempt->go, test::kSignalTimeoutMs);
    attempt->entered = attempt->lock->TryEnter();
    return 0;
}

TEST(OptexRecovery, ThreadIdReusedByALiveThreadNeitherReentersNorKeepsTheLockAlive) {
    const std::string name = UniqueName("optex-reused-id");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    LockBlocks blocks(name);

    // The owner was a thread that ended; a live thread now has its id.
    UniqueEvent go(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    TryAs attempt = {&lock, go.get(), true};
    DWORD namesakeId = 0;
    UniqueThread namesake(::CreateThread(nullptr, 0, TryWhenTold, &attempt, 0, &namesakeId));
    ThreadIdentity dead = test::EndedThreadIdentity();
    dead.threadId = namesakeId;
    blocks.SetShared(1, static_cast<LONG>(namesakeId), 1);
    blocks.PlantRecord(dead, kSlotOwning, 0);

    ::SetEvent(go.get());
    ASSERT_EQ(::WaitForSingleObject(namesake.get(), test::kSignalTimeoutMs), WAIT_OBJECT_0);
    EXPECT_FALSE(attempt.entered) << "re-entered a lock its id's earlier owner held";
    EXPECT_EQ(lock.Enter(), LockResult::kAbandoned);
    EXPECT_EQ(lock.AbandonedBy().threadId, namesakeId);
    EXPECT_EQ(lock.Shared()->recursionCount, 1);
    lock.Leave();

    // A dead owner's record also outweighs a thread with its id that never
    // used the lock, and so keeps no record.
    DWORD strangerId = 0;
    UniqueThread stranger(::CreateThread(nullptr, 0, TryWhenTold, &attempt, CREATE_SUSPENDED,
                                         &strangerId));
    dead.threadId = strangerId;
    blocks.SetShared(1, static_cast<LONG>(strangerId), 1);
    blocks.PlantRecord(dead, kSlotOwning, 0);
    EXPECT_EQ(lock.Enter(), LockResult::kAbandoned);
    lock.Leave();
    ::TerminateThread(stranger.get(), 0);

    // With no record at all, our own id in the owner field is not our hold.
    blocks.SetShared(1, static_cast<LONG>(::GetCurrentThreadId()), 1);
    EXPECT_EQ(lock.Enter(), LockResult::kAbandoned);
    EXPECT_EQ(LockCount(lock), 1);
    lock.Leave();
    EXPECT_EQ(LockCount(lock), 0);
}

// The states a death leaves between two steps of Enter or Leave.
struct HalfDone {
    const char* step;
    LONG lockCount;  // before this test's own announcement
    bool deadOwner;  // the owner field names the dead thread
    LONG recursionCount;
    LONG recordState;  // the dead thread's record; kSlotUnclaimed: none (an earlier build)
    LockResult expected;
};

class OptexHalfDone : public ::testing::TestWithParam<HalfDone> {};

// The waiter gets in, and once it owns the lock it sees every live thread's
// share, so even a level the dead may or may not have made is settled
// exactly: the free lock reads 0 again.
TEST_P(OptexHalfDone, WaiterGetsInAndWhatTheDeadLeftIsWithdrawnExactly) {
    const HalfDone& state = GetParam();
    const std::string name = UniqueName("optex-half-done");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    LockBlocks blocks(name);
    const ThreadIdentity dead = test::EndedThreadIdentity();
    blocks.SetShared(state.lockCount, state.deadOwner ? static_cast<LONG>(dead.threadId) : 0,
                     state.recursionCount);
    if (state.recordState != kSlotUnclaimed) blocks.PlantRecord(dead, state.recordState);

    EXPECT_EQ(lock.Enter(), state.expected) << state.step;
    EXPECT_EQ(lock.Shared()->recursionCount, 1) << state.step;
    EXPECT_EQ(lock.Side()->slots[LockBlocks::kPlantedSlot].threadId, 0) << "dead record kept";
    lock.Leave();
    EXPECT_EQ(LockCount(lock), 0) << state.step;
    EXPECT_EQ(lock.Side()->possiblePhantoms, 0) << state.step;
}

INSTANTIATE_TEST_SUITE_P(
    DeathBetweenSteps, OptexHalfDone,
    ::testing::Values(
        HalfDone{"spinning, its compare-exchange just made", 1, false, 0, kSlotSpinning,
                 LockResult::kAcquired},
        HalfDone{"counted, claiming the owner field", 1, false, 0, kSlotClaiming,
                 LockResult::kAcquired},
        HalfDone{"re-entering, after the increment", 3, true, 2, kSlotReentering,
                 LockResult::kAbandoned},
        HalfDone{"leaving one of two levels, before the decrement", 2, true, 1, kSlotLeaving,
                 LockResult::kAbandoned},
        HalfDone{"owning two levels", 2, true, 2, kSlotOwning, LockResult::kAbandoned},
        HalfDone{"releasing, between clearing the owner and the decrement", 1, false, 0,
                 kSlotReleasing, LockResult::kAcquired},
        HalfDone{"woken, before claiming the owner field", 1, false, 0, kSlotWaiting,
                 LockResult::kAcquired},
        HalfDone{"owning, a thread that keeps no record", 1, true, 1, kSlotUnclaimed,
                 LockResult::kAbandoned}));

// Every level of a hold is in recursionCount, which a takeover notes; the
// owner's other dead records may count some of them again: one that took the
// lock by the fast path and died still Claiming keeps the first level, and a
// new thread given its id that took a level on that hold notes the levels
// below its own. A takeover that cannot settle exactly (a live thread is
// between two steps) must withdraw each level once.
TEST(OptexRecovery, LevelsOfAHoldInTwoDeadRecordsOfItsIdAreWithdrawnOnce) {
    struct Planted {
        LONG state;
        LONG heldLevels;
    };
    struct Case {
        const char* what;
        LONG recursionCount;
        Planted noted, other;  // the takeover notes the first, in the lower slot
    };
    for (const Case& held : {Case{"a guest died re-entering beside a claimer", 1,
                                  {kSlotReentering, 1}, {kSlotClaiming, 0}},
                             Case{"a guest died owning beside the owner", 2, {kSlotOwning, 0},
                                  {kSlotOwning, 1}}}) {
        const std::string name = UniqueName("optex-levels-twice");
        Optex lock;
        ASSERT_TRUE(InitLock(lock, name));
        LockBlocks blocks(name);
        const ThreadIdentity dead = test::EndedThreadIdentity();
        DWORD announcerId = 0;
        UniqueThread announcer(
            ::CreateThread(nullptr, 0, DoNothing, nullptr, CREATE_SUSPENDED, &announcerId));
        ThreadIdentity announcing;
        ASSERT_EQ(LookUpThread(announcerId, announcing), ThreadLookup::kFound);
        // The hold's levels and the announcement.
        blocks.SetShared(held.recursionCount + 1, static_cast<LONG>(dead.threadId),
                         held.recursionCount);
        int slot = LockBlocks::kPlantedSlot - 1;
        for (const Planted& record : {held.noted, held.other}) {
            blocks.PlantRecord(dead, record.state, 60000, slot);
            blocks.side().slots[slot++].heldLevels = record.heldLevels;
        }
        blocks.PlantRecord(announcing, kSlotAnnouncing, 60000, LockBlocks::kPlantedSlot - 2);

        EXPECT_EQ(lock.Enter(), LockResult::kAbandoned) << held.what;
        EXPECT_EQ(LockCount(lock), 2) << held.what << ": our level and the announcer's";
        lock.Leave();
        ::TerminateThread(announcer.get(), 0);
        ::WaitForSingleObject(announcer.get(), test::kSignalTimeoutMs);
        // Once nobody is between two steps the rest is settled exactly.
        EXPECT_NE(lock.Enter(), LockResult::kUnusable) << held.what;
        lock.Leave();
        EXPECT_EQ(LockCount(lock), 0) << held.what;
    }
}

struct Waiter {
    Optex* lock;
    LockResult result;
};

DWORD WINAPI EnterAndLeave(void* parameter) {
    auto* waiter = static_cast<Waiter*>(parameter);
    waiter->result = waiter->lock->Enter();
    waiter->lock->Leave();
    return 0;
}

// A waiter died claiming a lock nobody owned, after its compare-exchange of
// the owner field and before taking the wake-up left pending. A waiter of an
// earlier build may take that wake-up and write the owner field without a
// compare-exchange, so the hold is taken over with the wake-up in hand, and
// left alone while the wake-up may be in such a waiter's hand.
TEST(OptexRecovery, DeadClaimersHoldIsTakenOverOnlyWithItsWakeUpInHand) {
    const std::string name = UniqueName("optex-dead-claimer");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    LockBlocks blocks(name);
    auto earlier = std::make_unique<test::LegacyOptex>();
    ASSERT_TRUE(earlier->Init(name));
    UniqueEvent wakeUp(::OpenEventA(EVENT_MODIFY_STATE, FALSE, (Optex::kEventPrefix + name).c_str()));
    const ThreadIdentity dead = test::EndedThreadIdentity();
    for (const bool pending : {true, false}) {
        blocks.SetShared(1, static_cast<LONG>(dead.threadId), 0);
        blocks.PlantRecord(dead, kSlotWaiting);
        if (pending) ::SetEvent(wakeUp.get());
        Waiter waiter{&lock, LockResult::kUnusable};
        UniqueThread thread(::CreateThread(nullptr, 0, EnterAndLeave, &waiter, 0, nullptr));
        if (!pending) {
            EXPECT_EQ(::WaitForSingleObject(thread.get(), 2 * Optex::kUnownedQuietMs), WAIT_TIMEOUT)
                << "taken over while an earlier build's waiter may hold the wake-up";
            earlier.reset();
        }
        ASSERT_EQ(::WaitForSingleObject(thread.get(), kRecoveryCapMs), WAIT_OBJECT_0) << pending;
        EXPECT_EQ(waiter.result, LockResult::kAbandoned) << pending;
        EXPECT_EQ(LockCount(lock), 0) << pending;
    }
}

struct Holder {
    Optex* lock;
    HANDLE in;
    HANDLE out;
};

// Enters, signals in, and ends at out without leaving: the test plays its
// release step by step.
DWORD WINAPI EnterAndStop(void* parameter) {
    auto* holder = static_cast<Holder*>(parameter);
    holder->lock->Enter();
    ::SetEvent(holder->in);
    ::WaitForSingleObject(holder->out, test::kSignalTimeoutMs);
    return 0;
}

// The lock's recovery mutex kept by another thread, as another program
// might, until the end of the scope.
class RecoveryMutexKept {
public:
    explicit RecoveryMutexKept(const std::string& lockName)
        : mutex_(::OpenMutexA(SYNCHRONIZE, FALSE, (Optex::kRecoveryPrefix + lockName).c_str())) {
        thread_.reset(::CreateThread(nullptr, 0, Keep, this, 0, nullptr));
        held_ = ::WaitForSingleObject(taken_.get(), test::kSignalTimeoutMs) == WAIT_OBJECT_0;
    }
    ~RecoveryMutexKept() {
        ::SetEvent(release_.get());
        ::WaitForSingleObject(thread_.get(), test::kSignalTimeoutMs);
    }
    bool held() const { return held_; }

private:
    static DWORD WINAPI Keep(void* parameter) {
        auto* self = static_cast<RecoveryMutexKept*>(parameter);
        if (::WaitForSingleObject(self->mutex_.get(), test::kSignalTimeoutMs) != WAIT_OBJECT_0) return 1;
        ::SetEvent(self->taken_.get());
        ::WaitForSingleObject(self->release_.get(), test::kSignalTimeoutMs);
        ::ReleaseMutex(self->mutex_.get());
        return 0;
    }

    UniqueMutex mutex_;
    UniqueEvent taken_{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueEvent release_{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueThread thread_;
    bool held_ = false;
};

// A holder thread of this process with a waiter behind it; the holder's last
// Leave is played up to the step before the wake-up.
class LastLeave : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitLock(lock, name));
        blocks.reset(new LockBlocks(name));
        holderThread.reset(::CreateThread(nullptr, 0, EnterAndStop, &holder, 0, nullptr));
        ASSERT_EQ(::WaitForSingleObject(in.get(), test::kSignalTimeoutMs), WAIT_OBJECT_0);
        waiterThread.reset(::CreateThread(nullptr, 0, EnterAndLeave, &waiter, 0, nullptr));
        ASSERT_TRUE(test::WaitUntil([&] { return LockCount(lock) == 2; }));
        holderRecord = blocks->FindRecord(::GetCurrentProcessId(), kSlotOwning);
        ASSERT_GE(holderRecord, 0);
        blocks->side().slots[holderRecord].state = kSlotSignalling;
        blocks->SetShared(LockCount(lock), 0, 0);
        ::InterlockedDecrement(&blocks->shared().lockCount);
    }
    void TearDown() override {
        ::SetEvent(out.get());
        ::WaitForSingleObject(holderThread.get(), test::kSignalTimeoutMs);
    }
    bool WaiterDone(DWORD timeoutMs) {
        return ::WaitForSingleObject(waiterThread.get(), timeoutMs) == WAIT_OBJECT_0;
    }
    // The held-up releaser sends its wake-up and ends its Leave: the waiter
    // is handed the lock, with nothing taken over.
    void FinishReleaseAndExpectHandOver() {
        ::SetEvent(UniqueEvent(::OpenEventA(EVENT_MODIFY_STATE, FALSE,
                                            (Optex::kEventPrefix + name).c_str())).get());
        blocks->side().slots[holderRecord].state = kSlotIdle;
        EXPECT_TRUE(WaiterDone(kRecoveryCapMs));
        EXPECT_EQ(waiter.result, LockResult::kAcquired);
        EXPECT_EQ(lock.Side()->takeovers, 0);
        EXPECT_EQ(LockCount(lock), 0);
    }

    const std::string name = UniqueName("optex-last-leave");
    Optex lock;
    std::unique_ptr<LockBlocks> blocks;
    UniqueEvent in{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueEvent out{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    Holder holder{&lock, in.get(), out.get()};
    Waiter waiter{&lock, LockResult::kUnusable};
    UniqueThread holderThread, waiterThread;
    int holderRecord = -1;
};

TEST_F(LastLeave, ReleaserHeldUpBeforeItsWakeUpIsNeverOvertaken) {
    // The holder runs, so its record says it still has a step to make: the
    // waiter must wait for that wake-up, however late, or a second one
    // would let another thread in beside it.
    EXPECT_FALSE(WaiterDone(2 * Optex::kUnownedQuietMs)) << "overtook a live releaser";
    FinishReleaseAndExpectHandOver();
}

TEST_F(LastLeave, WakeUpIsTakenThoughAnotherProgramKeepsTheRecoveryMutex) {
    // Waiters take a wake-up together with the recovery mutex, so that no
    // claim runs while one holds a wake-up it has not acted on; kept by
    // another program, it is done without.
    RecoveryMutexKept recovery(name);
    ASSERT_TRUE(recovery.held());
    FinishReleaseAndExpectHandOver();
}

TEST_F(LastLeave, LockOfAThreadThatKeepsNoRecordIsClaimedOnlyOnceItsProcessIsGone) {
    // A thread that keeps no record (of an earlier build, or of ours with
    // every record taken) counted itself and was held up before it named
    // itself owner. Its process holds a handle of the shared block that no
    // recovery mutex matches (a thread of ours holds a marker), so nothing
    // is claimed while it may still make its step.
    blocks->side().slots[holderRecord].state = kSlotIdle;
    ::InterlockedIncrement(&blocks->shared().lockCount);
    UniqueMapping marker(::OpenFileMappingA(FILE_MAP_READ, FALSE,
                                            (Optex::kMappingPrefix + name).c_str()));
    ASSERT_TRUE(marker.valid());
    EXPECT_FALSE(WaiterDone(2 * Optex::kUnownedQuietMs)) << "claimed a lock a live thread may own";
    // Its process ends: the level it left is withdrawn by the waiter that
    // claims the lock, and the free lock reads 0 again.
    marker.reset();
    EXPECT_TRUE(WaiterDone(kRecoveryCapMs));
    EXPECT_EQ(LockCount(lock), 0);
    EXPECT_EQ(lock.Side()->takeovers, 1);
}

TEST_F(LastLeave, WakeUpLostByAReleaserThatDiedIsRecoveredByTheWaiter) {
    ::TerminateThread(holderThread.get(), 1);
    ::WaitForSingleObject(holderThread.get(), test::kSignalTimeoutMs);
    EXPECT_TRUE(WaiterDone(kRecoveryCapMs));
    EXPECT_EQ(waiter.result, LockResult::kAcquired) << "nobody died holding it";
    EXPECT_EQ(lock.Side()->takeovers, 1);
    EXPECT_EQ(LockCount(lock), 0);
}

TEST_F(LastLeave, LostWakeUpIsLeftAloneWhileAPeerOfAnEarlierBuildMayBeHandingOver) {
    // Such a peer's releaser, held up before its wake-up, keeps no record:
    // while one has the lock open, a death proves no hand-over lost.
    auto earlier = std::make_unique<test::LegacyOptex>();
    ASSERT_TRUE(earlier->Init(name));
    ::TerminateThread(holderThread.get(), 1);
    ::WaitForSingleObject(holderThread.get(), test::kSignalTimeoutMs);
    EXPECT_FALSE(WaiterDone(2 * Optex::kUnownedQuietMs)) << "claimed beside a possible hand-over";
    earlier.reset();
    EXPECT_TRUE(WaiterDone(kRecoveryCapMs));
    EXPECT_EQ(lock.Side()->takeovers, 1);
}

TEST_F(LastLeave, LostWakeUpIsRecoveredThoughEarlierDeathsLeftLevelsWithNoRecord) {
    // A level an earlier death may have made, its record already freed, is
    // counted in possiblePhantoms: the waiter still claims the lock, and
    // settles that level exactly.
    ::InterlockedIncrement(&blocks->shared().lockCount);
    blocks->side().possiblePhantoms = 1;
    ::TerminateThread(holderThread.get(), 1);
    ::WaitForSingleObject(holderThread.get(), test::kSignalTimeoutMs);
    EXPECT_TRUE(WaiterDone(kRecoveryCapMs));
    EXPECT_EQ(LockCount(lock), 0);
    EXPECT_EQ(lock.Side()->possiblePhantoms, 0);
}

struct Attempt {
    Optex* lock;
    bool entered;
};

DWORD WINAPI TryEnterAndLeave(void* parameter) {
    auto* attempt = static_cast<Attempt*>(parameter);
    attempt->entered = attempt->lock->TryEnter();
    if (attempt->entered) attempt->lock->Leave();
    return 0;
}

TEST_F(LastLeave, LostWakeUpIsRecoveredWhenANewThreadReusesTheDeadReleasersRecord) {
    // Every other record is a dead thread's: the next thread to arrive
    // reuses the dead releaser's.
    blocks->FillFreeRecords(test::EndedThreadIdentity());
    ::TerminateThread(holderThread.get(), 1);
    ::WaitForSingleObject(holderThread.get(), test::kSignalTimeoutMs);
    Attempt newcomerAttempt{&lock, false};
    UniqueThread newcomer(::CreateThread(nullptr, 0, TryEnterAndLeave, &newcomerAttempt, 0, nullptr));
    ASSERT_EQ(::WaitForSingleObject(newcomer.get(), test::kSignalTimeoutMs), WAIT_OBJECT_0);
    EXPECT_TRUE(WaiterDone(kRecoveryCapMs)) << "the dead releaser's record was the proof";
    EXPECT_EQ(LockCount(lock), 0);
}

TEST_F(LastLeave, LostWakeUpIsRecoveredWhileAThreadThatFoundNoRecordIdles) {
    // A thread found every record taken, tried the lock, and idles: holding
    // nothing, it keeps nobody from recovering.
    UniqueThread filler(::CreateThread(nullptr, 0, DoNothing, nullptr, CREATE_SUSPENDED, nullptr));
    ThreadIdentity running;
    ASSERT_EQ(LookUpThread(::GetThreadId(filler.get()), running), ThreadLookup::kFound);
    blocks->FillFreeRecords(running);
    test::StepThread idle;
    ASSERT_TRUE(idle.Run([&] { EXPECT_FALSE(lock.TryEnter()); }));
    for (OptexThreadSlot& record : blocks->side().slots) {
        if (record.threadId != static_cast<LONG>(running.threadId)) continue;
        record.state = kSlotUnclaimed;
        record.threadId = 0;
    }
    ::TerminateThread(holderThread.get(), 1);
    ::WaitForSingleObject(holderThread.get(), test::kSignalTimeoutMs);
    EXPECT_TRUE(WaiterDone(kRecoveryCapMs));
    EXPECT_EQ(LockCount(lock), 0);
    ::TerminateThread(filler.get(), 0);
}

TEST(OptexRecovery, LevelNestedOnAHoldThroughACopyWithoutRecordsGoesOnItNeverOverIt) {
    // A thread holds the lock through a copy of the module that keeps no
    // records (one of an earlier build) and nests a level through a copy
    // that does: the level goes on that hold, and nobody gets in under it.
    const std::string name = UniqueName("optex-recordless-copy");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    test::LegacyOptex earlier;
    ASSERT_TRUE(earlier.Init(name));
    test::StepThread thread;
    LockResult nested = LockResult::kUnusable;
    ASSERT_TRUE(thread.Run([&] { earlier.Enter(); nested = lock.Enter(); }, kRecoveryCapMs));
    EXPECT_EQ(nested, LockResult::kAcquired) << "took its own hold over";
    ASSERT_TRUE(thread.Run([&] { lock.Leave(); }));
    Attempt other{&lock, true};
    ASSERT_TRUE(test::RunOnOtherThread([&] { TryEnterAndLeave(&other); }));
    EXPECT_FALSE(other.entered) << "another thread got in under the outer level";
    ASSERT_TRUE(thread.Run([&] { earlier.Leave(); }));
    EXPECT_EQ(LockCount(lock), 0);
    EXPECT_EQ(lock.Side()->takeovers, 0);
}

LONG repairedLockCount = 0;
int repairs = 0;

void NoteRepair(LONG lockCount, LONG) {
    repairedLockCount = lockCount;
    ++repairs;
}

TEST(OptexRecovery, CountsNoRunCanMakeAreSetRightOnceAndReported) {
    // A host's stray write: negative counts and no owner. Before, every
    // entry waited out the quiet of an unowned lock, for as long as the block
    // lived.
    const std::string name = UniqueName("optex-impossible");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    lock.SetRepairHandler(NoteRepair);
    repairs = 0;
    LockBlocks(name).SetShared(-5, 0, -2);
    EXPECT_EQ(lock.Enter(), LockResult::kAcquired);
    EXPECT_EQ(LockCount(lock), 1);
    EXPECT_EQ(lock.Shared()->recursionCount, 1);
    lock.Leave();
    EXPECT_EQ(LockCount(lock), 0);
    EXPECT_TRUE(lock.TryEnter()) << "the next entry still finds the lock taken";
    lock.Leave();
    EXPECT_EQ(repairs, 1);
    EXPECT_EQ(repairedLockCount, -4) << "the values found, our announcement in them";

    // lockCount below what two live waiters announced (records of a running
    // thread, renewed just now), found by a settlement that a dead thread's
    // stale record asks for: raised to their levels, never settled lower.
    UniqueThread waiter(::CreateThread(nullptr, 0, DoNothing, nullptr, CREATE_SUSPENDED, nullptr));
    ThreadIdentity running;
    ASSERT_EQ(LookUpThread(::GetThreadId(waiter.get()), running), ThreadLookup::kFound);
    LockBlocks blocks(name);
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);
    blocks.PlantRecord(running, kSlotWaiting, 0);
    blocks.PlantRecord(running, kSlotWaiting, 0, LockBlocks::kPlantedSlot - 1);
    blocks.PlantRecord(test::EndedThreadIdentity(), kSlotSignalling, 60000, LockBlocks::kPlantedSlot - 2);
    blocks.SetShared(2, static_cast<LONG>(::GetCurrentThreadId()), 1);
    lock.Leave();
    EXPECT_EQ(LockCount(lock), 2) << "the waiters' levels";
    EXPECT_EQ(repairs, 2);
    EXPECT_EQ(repairedLockCount, 2);
    for (int i : {LockBlocks::kPlantedSlot - 2, LockBlocks::kPlantedSlot - 1, LockBlocks::kPlantedSlot}) {
        blocks.side().slots[i].state = kSlotUnclaimed;
        blocks.side().slots[i].threadId = 0;
    }
    blocks.side().possiblePhantoms = 0;
    blocks.SetShared(0, 0, 0);
    ::TerminateThread(waiter.get(), 0);
}

TEST(OptexRecovery, DeadOwnerSharingItsIdsWithANewThreadIsToldByItsLife) {
    // Thread ids are reused at once and creation times are stamped at the
    // timer's resolution: a thread made in the tick its predecessor ended
    // in may carry all its ids. The record's life mutex, gone with its
    // thread, still tells them apart.
    const std::string name = UniqueName("optex-same-ids");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    LockBlocks blocks(name);
    UniqueThread newcomer(::CreateThread(nullptr, 0, DoNothing, nullptr, CREATE_SUSPENDED, nullptr));
    ThreadIdentity same;
    ASSERT_EQ(LookUpThread(::GetThreadId(newcomer.get()), same), ThreadLookup::kFound);
    blocks.SetShared(1, static_cast<LONG>(same.threadId), 1);
    blocks.PlantRecord(same, kSlotOwning, 60000, LockBlocks::kPlantedSlot, 0x7FFFFFF0);
    EXPECT_EQ(lock.Enter(), LockResult::kAbandoned);
    EXPECT_EQ(LockCount(lock), 1);
    lock.Leave();
    ::TerminateThread(newcomer.get(), 0);
}

TEST(OptexRecovery, TwoCopiesOfTheModuleInOneProcessSeeOneThreadAsOne) {
    const std::string name = UniqueName("optex-two-copies");
    Optex first, second;  // as two copies of the DLL would each have
    ASSERT_TRUE(InitLock(first, name));
    ASSERT_TRUE(InitLock(second, name));
    LockBlocks blocks(name);
    // The outer level is taken through the first copy with no record free;
    // then one frees up, and the nested level goes through the second copy.
    UniqueThread filler(::CreateThread(nullptr, 0, DoNothing, nullptr, CREATE_SUSPENDED, nullptr));
    ThreadIdentity running;
    ASSERT_EQ(LookUpThread(::GetThreadId(filler.get()), running), ThreadLookup::kFound);
    blocks.FillFreeRecords(running);
    ASSERT_EQ(first.Enter(), LockResult::kAcquired);
    blocks.side().slots[5].state = kSlotUnclaimed;
    blocks.side().slots[5].threadId = 0;
    EXPECT_EQ(second.Enter(), LockResult::kAcquired) << "took its own hold over";
    second.Leave();
    Attempt other{&first, true};
    UniqueThread otherThread(::CreateThread(nullptr, 0, TryEnterAndLeave, &other, 0, nullptr));
    ASSERT_EQ(::WaitForSingleObject(otherThread.get(), test::kSignalTimeoutMs), WAIT_OBJECT_0);
    EXPECT_FALSE(other.entered) << "another thread got in under the outer level";
    first.Leave();
    EXPECT_EQ(LockCount(first), 0);
    EXPECT_EQ(first.Side()->takeovers, 0);

    // A thread's record is given back once, whichever copies say it ends.
    ::TerminateThread(filler.get(), 0);
    for (int i = 0; i < kOptexSlotCount; ++i) {
        blocks.side().slots[i].state = kSlotUnclaimed;
        blocks.side().slots[i].threadId = 0;
    }
    ASSERT_EQ(first.Enter(), LockResult::kAcquired);
    first.Leave();
    first.ForgetCurrentThread();
    UniqueThread later(::CreateThread(nullptr, 0, TryEnterAndLeave, &other, 0, nullptr));
    ASSERT_EQ(::WaitForSingleObject(later.get(), test::kSignalTimeoutMs), WAIT_OBJECT_0);
    const LONG laterRecords = blocks.side().slots[0].threadId;
    second.ForgetCurrentThread();
    EXPECT_EQ(blocks.side().slots[0].threadId, laterRecords) << "freed another thread's record";
}

TEST(OptexRecovery, WakeUpIsSentThoughTheReleasersHandleOfTheEventWasClosed) {
    const std::string name = UniqueName("optex-closed-event");
    // The first handle Init makes, the event, takes the value just freed.
    HANDLE value = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ::CloseHandle(value);
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);
    ChildProcess waiter = ChildProcess::Start("OptexEnterOnce", {name});
    ASSERT_TRUE(test::WaitUntil([&] { return LockCount(lock) == 2; }));
    // A host's bug closes the handle while a recovery holds the mutex, so
    // the event cannot be opened again for good at that moment.
    RecoveryMutexKept recovery(name);
    ASSERT_TRUE(recovery.held());
    ::CloseHandle(value);
    lock.Leave();
    EXPECT_EQ(waiter.Wait(kRecoveryCapMs), kAcquired);
    EXPECT_EQ(lock.Side()->takeovers, 0) << "the wake-up was lost and the lock claimed";
}

TEST(OptexRecovery, DeadOwnersNamesakeIsTakenForTheOwnerWhileAnEarlierBuildMightBeIt) {
    const std::string name = UniqueName("optex-namesake-earlier");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    LockBlocks blocks(name);
    DWORD namesakeId = 0;
    UniqueThread namesake(::CreateThread(nullptr, 0, DoNothing, nullptr, CREATE_SUSPENDED,
                                         &namesakeId));
    ThreadIdentity dead = test::EndedThreadIdentity();
    dead.threadId = namesakeId;
    blocks.SetShared(1, static_cast<LONG>(namesakeId), 1);
    blocks.PlantRecord(dead, kSlotOwning);

    // A thread of an earlier build re-enters on its id alone: the running
    // namesake may own the lock, so it is not taken from it.
    auto earlier = std::make_unique<test::LegacyOptex>();
    ASSERT_TRUE(earlier->Init(name));
    Waiter waiter{&lock, LockResult::kUnusable};
    UniqueThread waiterThread(::CreateThread(nullptr, 0, EnterAndLeave, &waiter, 0, nullptr));
    EXPECT_NE(::WaitForSingleObject(waiterThread.get(), 10 * Optex::kWaitSliceMs), WAIT_OBJECT_0);
    earlier.reset();
    EXPECT_EQ(::WaitForSingleObject(waiterThread.get(), kRecoveryCapMs), WAIT_OBJECT_0);
    EXPECT_EQ(waiter.result, LockResult::kAbandoned);
    ::TerminateThread(namesake.get(), 0);
}

TEST(OptexRecovery, ThreadWithoutARecordReentersOnTheLevelsItHoldsNeverOnItsId) {
    const std::string name = UniqueName("optex-no-record");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    LockBlocks blocks(name);
    // Every record taken by a running thread: this thread gets none.
    UniqueThread filler(::CreateThread(nullptr, 0, DoNothing, nullptr, CREATE_SUSPENDED,
                                       nullptr));
    ThreadIdentity running;
    ASSERT_EQ(LookUpThread(::GetThreadId(filler.get()), running), ThreadLookup::kFound);
    blocks.FillFreeRecords(running);

    // Nested, also through a second Optex of the name (a second copy of the
    // module in one host): its own levels, never a dead thread's.
    Optex sameName;
    ASSERT_TRUE(InitLock(sameName, name));
    EXPECT_EQ(lock.Enter(), LockResult::kAcquired);
    EXPECT_TRUE(lock.TryEnter());
    EXPECT_EQ(sameName.Enter(), LockResult::kAcquired);
    EXPECT_EQ(LockCount(lock), 3);
    sameName.Leave();
    lock.Leave();
    lock.Leave();
    EXPECT_EQ(LockCount(lock), 0);
    EXPECT_EQ(lock.Side()->takeovers, 0);

    // A dead thread that had our id left it in the owner field.
    ThreadIdentity dead = test::EndedThreadIdentity();
    dead.threadId = ::GetCurrentThreadId();
    blocks.PlantRecord(dead, kSlotOwning);
    blocks.SetShared(1, static_cast<LONG>(::GetCurrentThreadId()), 1);
    EXPECT_FALSE(lock.TryEnter()) << "re-entered on the id alone";
    EXPECT_EQ(lock.Enter(), LockResult::kAbandoned);
    lock.Leave();
    EXPECT_EQ(LockCount(lock), 0);
    ::TerminateThread(filler.get(), 0);
}

DWORD failedWaitError = 0;
int failedWaits = 0;

void CountFailedWait(DWORD error) {
    failedWaitError = error;
    ++failedWaits;
}

TEST(OptexRecovery, FailedWaitIsReportedOnceAndNeverTakenForARelease) {
    const std::string name = UniqueName("optex-failed-wait");
    NamedEvent in(name + "-in"), done(name + "-done");
    // The first handle Init makes, the event, takes the value just freed.
    HANDLE value = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ::CloseHandle(value);
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    lock.SetWaitFailureHandler(CountFailedWait);
    ChildProcess holder = ChildProcess::Start("OptexHoldFor", {name, name, "700"});
    ASSERT_TRUE(in.Await());

    // A host's bug closes the handle, and the value goes to an object that
    // cannot be waited on.
    ::CloseHandle(value);
    UniqueMapping reuse(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             4096, nullptr));
    ASSERT_EQ(reuse.get(), value);
    EXPECT_EQ(lock.Enter(), LockResult::kAcquired);
    EXPECT_TRUE(done.IsSignalled()) << "a failed wait was taken for a release";
    EXPECT_EQ(failedWaits, 1);
    EXPECT_NE(failedWaitError, 0u);
    EXPECT_EQ(LockCount(lock), 1);
    lock.Leave();
    EXPECT_EQ(holder.Wait(), 0);
}

// Adds one to a counter in shared memory, count times, under the lock taken
// the way this build or an earlier one takes it.
DLMGR_CHILD_SCENARIO(CountUnderLock) {
    const std::string& name = args.at(0);
    const bool legacy = args.at(1) == "legacy";
    const int count = std::stoi(args.at(2));
    UniqueMapping mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(LONG), (name + "-counter").c_str()));
    UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_TRUE(view.valid());
    volatile LONG* counter = static_cast<volatile LONG*>(view.get());
    test::LegacyOptex earlier;
    Optex current;
    ASSERT_TRUE(legacy ? earlier.Init(name) : InitLock(current, name));
    EXPECT_TRUE(NamedEvent(name + "-start").Await());
    for (int i = 0; i < count; ++i) {
        legacy ? earlier.Enter() : static_cast<void>(current.Enter());
        const LONG seen = *counter;
        if (i % 16 == 0) ::Sleep(0);  // let the other party in at the worst moment
        *counter = seen + 1;
        legacy ? earlier.Leave() : current.Leave();
    }
}

TEST(OptexRecovery, PeerOfAnEarlierBuildStillSharesTheLock) {
    const std::string name = UniqueName("optex-mixed");
    constexpr int kEach = 400;
    UniqueMapping mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(LONG), (name + "-counter").c_str()));
    UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    NamedEvent start(name + "-start");
    ChildProcess earlier = ChildProcess::Start("CountUnderLock", {name, "legacy", std::to_string(kEach)});
    ChildProcess current = ChildProcess::Start("CountUnderLock", {name, "current", std::to_string(kEach)});
    start.Signal();
    EXPECT_EQ(earlier.Wait(), 0);
    EXPECT_EQ(current.Wait(), 0);
    EXPECT_EQ(*static_cast<volatile LONG*>(view.get()), 2 * kEach) << "an increment was lost";
    EXPECT_EQ(LockCount(lock), 0);
    EXPECT_EQ(lock.Side()->takeovers, 0);
}

}  // namespace
}  // namespace dlmgr
