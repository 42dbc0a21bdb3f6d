// Nothing but a live holder keeps a waiter of the lock waiting: not a waiter
// that is held up (suspended) anywhere in its wait, nor another program that
// keeps a dead holder's life, the recovery mutex, a read handle of the block
// or the wake-up event made manual-reset; and a bounded entry waits its turn
// and gives it back cleanly. Caps are generous.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sync/optex.h"
#include "sync/thread_life.h"
#include "tests/support/child_process.h"
#include "tests/support/lock_blocks.h"
#include "tests/support/test_sync.h"

namespace dlmgr {
namespace {

using test::InitLock;
using test::LockBlocks;
using test::LockCount;
using test::NamedEvent;
using test::UniqueName;

constexpr DWORD kCapMs = 5000;

struct Entrant {
    Optex* lock = nullptr;
    HANDLE in = nullptr;   // set once it holds the lock (a holder)
    HANDLE out = nullptr;  // a holder leaves once set
    LockResult result = LockResult::kUnusable;
};

DWORD WINAPI EnterThenLeave(void* parameter) {
    auto* entrant = static_cast<Entrant*>(parameter);
    entrant->result = entrant->lock->Enter();
    if (entrant->in != nullptr) ::SetEvent(entrant->in);
    if (entrant->out != nullptr) ::WaitForSingleObject(entrant->out, test::kChildTimeoutMs);
    entrant->lock->Leave();
    return 0;
}

bool Done(const UniqueThread& thread, DWORD timeoutMs = kCapMs) {
    return ::WaitForSingleObject(thread.get(), timeoutMs) == WAIT_OBJECT_0;
}

// A holder thread with two waiters behind it, one of which the test holds
// up; what happens to the holder is up to the test.
class HeldUpWaiter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitLock(lock, name));
        blocks.reset(new LockBlocks(name));
        holderThread = Start(holder);
        ASSERT_EQ(::WaitForSingleObject(in.get(), kCapMs), WAIT_OBJECT_0);
        heldUpThread = Start(heldUp);
        readyThread = Start(ready);
        ASSERT_TRUE(test::WaitUntil([&] { return LockCount(lock) == 3; }));
    }
    void TearDown() override {
        ::ResumeThread(heldUpThread.get());
        ::SetEvent(out.get());
        EXPECT_TRUE(Done(heldUpThread));
        EXPECT_TRUE(Done(readyThread));
        EXPECT_TRUE(Done(holderThread));
        EXPECT_EQ(LockCount(lock), 0);
    }
    UniqueThread Start(Entrant& entrant) {
        return UniqueThread(::CreateThread(nullptr, 0, EnterThenLeave, &entrant, 0, nullptr));
    }
    // Suspends the held-up waiter at a moment when its record says Waiting.
    bool HoldUpWhileWaiting() {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            ::SuspendThread(heldUpThread.get());
            const int record = blocks->FindRecordOf(::GetThreadId(heldUpThread.get()));
            if (record >= 0 && blocks->side().slots[record].state == kSlotWaiting) return true;
            ::ResumeThread(heldUpThread.get());
            ::Sleep(1);
        }
        return false;
    }
    void EndHolder() {
        ::TerminateThread(holderThread.get(), 1);
        ::WaitForSingleObject(holderThread.get(), kCapMs);
    }
    // The holder dies between its release and its wake-up: nobody owns the
    // lock, and the wake-up its waiters count on never comes.
    void EndHolderBeforeItsWakeUp() {
        const int record = blocks->FindRecordOf(::GetThreadId(holderThread.get()));
        ASSERT_GE(record, 0);
        blocks->side().slots[record].state = kSlotSignalling;
        blocks->SetShared(LockCount(lock) - 1, 0, 0);
        EndHolder();
    }

    const std::string name = UniqueName("optex-held-up");
    Optex lock;
    std::unique_ptr<LockBlocks> blocks;
    UniqueEvent in{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueEvent out{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    Entrant holder{&lock, in.get(), out.get()};
    Entrant heldUp{&lock}, ready{&lock};
    UniqueThread holderThread, heldUpThread, readyThread;
};

TEST_F(HeldUpWaiter, InItsWatchNeverStopsTheTakeoverOfADeadHolder) {
    ASSERT_TRUE(HoldUpWhileWaiting());
    EndHolder();
    EXPECT_TRUE(Done(readyThread)) << "a ready waiter waited for a held-up one";
    EXPECT_EQ(ready.result, LockResult::kAbandoned);
}

TEST_F(HeldUpWaiter, AsItLearnsOfTheDeathNeverStopsTheTakeover) {
    // Held up right after the death, wherever it is: it may have taken the
    // dead holder's life, or be taking the lock over.
    EndHolder();
    ::SuspendThread(heldUpThread.get());
    EXPECT_TRUE(Done(readyThread)) << "a ready waiter waited for a held-up one";
}

TEST_F(HeldUpWaiter, InItsWatchNeverStopsALostWakeUpsRecovery) {
    ASSERT_TRUE(HoldUpWhileWaiting());
    EndHolderBeforeItsWakeUp();
    EXPECT_TRUE(Done(readyThread)) << "a lost wake-up waited for a held-up waiter";
    EXPECT_EQ(ready.result, LockResult::kAcquired);
}

// Waits on a life's mutex, as another program could, gets it when its
// thread ends, and keeps it until the end of the scope.
class LifeKeeper {
public:
    explicit LifeKeeper(UniqueMutex life) : life_(std::move(life)) {
        thread_.reset(::CreateThread(nullptr, 0, Keep, this, 0, nullptr));
    }
    ~LifeKeeper() {
        ::SetEvent(release_.get());
        ::WaitForSingleObject(thread_.get(), kCapMs);
    }
    bool Kept() const { return ::WaitForSingleObject(kept_.get(), kCapMs) == WAIT_OBJECT_0; }

private:
    static DWORD WINAPI Keep(void* parameter) {
        auto* self = static_cast<LifeKeeper*>(parameter);
        const DWORD wait = ::WaitForSingleObject(self->life_.get(), 2 * kCapMs);
        if (wait != WAIT_ABANDONED && wait != WAIT_OBJECT_0) return 1;
        ::SetEvent(self->kept_.get());
        ::WaitForSingleObject(self->release_.get(), 4 * kCapMs);
        ::ReleaseMutex(self->life_.get());
        return 0;
    }
    UniqueMutex life_;
    UniqueEvent kept_{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueEvent release_{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueThread thread_;
};

TEST_F(HeldUpWaiter, DeadHoldersLifeKeptByAnotherProgramIsJudgedByItsIdentity) {
    const int record = blocks->FindRecordOf(::GetThreadId(holderThread.get()));
    ASSERT_GE(record, 0);
    bool ended = false;
    LifeKeeper keeper(OpenLife(name.c_str(), blocks->side().slots[record].life, ended));
    // The waiters held up as the holder dies: the keeper, not a watcher, gets the life.
    ::SuspendThread(readyThread.get());
    ::SuspendThread(heldUpThread.get());
    EndHolder();
    const bool kept = keeper.Kept();
    ::ResumeThread(readyThread.get());
    ASSERT_TRUE(kept) << "staging: the life was not kept";
    EXPECT_TRUE(Done(readyThread)) << "a dead holder whose life another keeps was never taken over";
}

// The lock's recovery mutex kept by another program for as long as the scope.
class MutexKeeper {
public:
    explicit MutexKeeper(const std::string& lockName)
        : mutex_(::OpenMutexA(SYNCHRONIZE, FALSE, (Optex::kRecoveryPrefix + lockName).c_str())) {
        held_ = keeper_.Run([&] { ::WaitForSingleObject(mutex_.get(), kCapMs); });
    }
    ~MutexKeeper() { keeper_.Run([&] { ::ReleaseMutex(mutex_.get()); }); }
    bool held() const { return held_; }

private:
    UniqueMutex mutex_;
    test::StepThread keeper_;
    bool held_ = false;
};

TEST_F(HeldUpWaiter, RecoveryMutexKeptByAnotherProgramNeverStopsATakeover) {
    ::ResumeThread(heldUpThread.get());
    MutexKeeper keeper(name);
    ASSERT_TRUE(keeper.held());
    EndHolder();
    EXPECT_TRUE(Done(readyThread)) << "a dead holder was never taken over without the recovery mutex";
    EXPECT_TRUE(Done(heldUpThread));
    EXPECT_EQ(lock.Side()->takeovers, 1);
}

// Keeps a read handle of the lock's block, as a monitor could, until told.
DLMGR_CHILD_SCENARIO(OptexBlockReader) {
    UniqueMapping block(::OpenFileMappingA(FILE_MAP_READ, FALSE, (Optex::kMappingPrefix + args.at(0)).c_str()));
    ASSERT_TRUE(block.valid());
    NamedEvent(args.at(1) + "-open").Signal();
    NamedEvent(args.at(1) + "-close").WaitFor(test::kChildTimeoutMs);
}

TEST_F(HeldUpWaiter, ReadHandleOfAnotherProgramNeverStopsALostWakeUpsRecovery) {
    // Another program reads the block and took the wake-up the holder sent.
    ::ResumeThread(heldUpThread.get());
    test::ChildProcess reader = test::ChildProcess::Start("OptexBlockReader", {name, name});
    ASSERT_TRUE(NamedEvent(name + "-open").Await());
    EndHolderBeforeItsWakeUp();
    EXPECT_TRUE(Done(readyThread)) << "a reader's handle kept a lost wake-up from being recovered";
    EXPECT_TRUE(Done(heldUpThread));
    NamedEvent(name + "-close").Signal();
    EXPECT_EQ(reader.Wait(), 0);
}

OptexFinding found = OptexFinding::kStrayWakeUps;
int findings = 0;
void NoteFinding(OptexFinding finding) {
    found = finding;
    ++findings;
}

TEST(OptexLiveness, ManualResetWakeUpEventLeftSetIsSaidAndNeverStopsATakeover) {
    const std::string name = UniqueName("optex-manual-event");
    UniqueEvent squatter(::CreateEventA(nullptr, TRUE, TRUE, (Optex::kEventPrefix + name).c_str()));
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    lock.SetFindingHandler(NoteFinding);
    findings = 0;
    UniqueEvent in(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    UniqueEvent never(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    Entrant holder{&lock, in.get(), never.get()};
    UniqueThread holderThread(::CreateThread(nullptr, 0, EnterThenLeave, &holder, 0, nullptr));
    ASSERT_EQ(::WaitForSingleObject(in.get(), kCapMs), WAIT_OBJECT_0);
    ::TerminateThread(holderThread.get(), 1);
    ::WaitForSingleObject(holderThread.get(), kCapMs);
    EXPECT_EQ(lock.Enter(), LockResult::kAbandoned);
    lock.Leave();
    EXPECT_EQ(findings, 1);
    EXPECT_EQ(found, OptexFinding::kEventNotAutoReset);
    EXPECT_EQ(LockCount(lock), 0);
}

struct BoundedEntrant {
    Optex* lock = nullptr;
    bool got = false;
};

DWORD WINAPI EnterWithin(void* parameter) {
    auto* entrant = static_cast<BoundedEntrant*>(parameter);
    const OptexGuard guard = entrant->lock->AcquireWithin(kCapMs);
    entrant->got = static_cast<bool>(guard);
    return 0;
}

TEST(OptexLiveness, BoundedEntryWaitsItsTurnAndGivesItBackCleanly) {
    const std::string name = UniqueName("optex-bounded");
    Optex lock, first;
    ASSERT_TRUE(InitLock(lock, name) && InitLock(first, name));
    // Behind a holder it is counted as any waiter is: one that only tried
    // would get in only by chance while others keep the count up.
    ASSERT_EQ(first.Enter(), LockResult::kAcquired);
    BoundedEntrant entrant{&lock};
    UniqueThread waiter(::CreateThread(nullptr, 0, EnterWithin, &entrant, 0, nullptr));
    EXPECT_TRUE(test::WaitUntil([&] { return LockCount(lock) == 2; })) << "a bounded entry did not queue";
    first.Leave();
    EXPECT_TRUE(Done(waiter));
    EXPECT_TRUE(entrant.got) << "never got its turn";
    // A holder that stays: the bounded entry gives up, its level given back.
    ASSERT_EQ(first.Enter(), LockResult::kAcquired);
    EXPECT_TRUE(test::RunOnOtherThread([&] { EXPECT_FALSE(lock.AcquireWithin(300)); }));
    EXPECT_EQ(LockCount(lock), 1);
    first.Leave();
    EXPECT_EQ(LockCount(lock), 0);
    EXPECT_TRUE(lock.TryEnter()) << "a wake-up was left for nobody";
    lock.Leave();
}

}  // namespace
}  // namespace dlmgr
