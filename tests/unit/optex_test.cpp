// Optex across real processes: the test executable re-runs itself as the
// other party, and parties meet through named events with time-outs.
#include <gtest/gtest.h>

#include <string>

#include "sync/optex.h"
#include "tests/support/child_process.h"
#include "tests/support/lock_blocks.h"
#include "tests/support/test_sync.h"

namespace dlmgr {
namespace {

using test::ChildProcess;
using test::InitLock;
using test::LockCount;
using test::NamedEvent;
using test::RunChild;
using test::UniqueName;

constexpr int kAcquired = 10;
constexpr int kRefused = 11;

// Exit code kAcquired when TryEnter took the lock (and left it), else kRefused.
DLMGR_CHILD_SCENARIO(OptexTryEnterOnce) {
    Optex lock;
    ASSERT_TRUE(InitLock(lock, args.at(0)));
    const bool acquired = lock.TryEnter();
    if (acquired) lock.Leave();
    ::ExitProcess(acquired ? kAcquired : kRefused);
}

// Enters (waiting as long as needed), signals "<tag>-in", holds the lock
// until "<tag>-out", then leaves.
DLMGR_CHILD_SCENARIO(OptexEnterAndHold) {
    Optex lock;
    ASSERT_TRUE(InitLock(lock, args.at(0)));
    NamedEvent in(args.at(1) + "-in");
    NamedEvent out(args.at(1) + "-out");
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);
    in.Signal();
    EXPECT_TRUE(out.Await());
    lock.Leave();
}

int TryFromOtherProcess(const std::string& lockName) {
    return RunChild("OptexTryEnterOnce", {lockName});
}

TEST(Optex, ProcessesSharingANameExcludeEachOtherAndOtherNamesDoNot) {
    const std::string name = UniqueName("optex-exclude");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);
    EXPECT_EQ(TryFromOtherProcess(name), kRefused);
    EXPECT_EQ(TryFromOtherProcess(name + "-other"), kAcquired);
    lock.Leave();
    EXPECT_EQ(TryFromOtherProcess(name), kAcquired);
}

TEST(Optex, ThreeEntersNeedThreeLeavesBeforeAnotherProcessGetsIn) {
    const std::string name = UniqueName("optex-reentrant");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);
    ASSERT_TRUE(lock.TryEnter());
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);
    EXPECT_EQ(lock.Shared()->recursionCount, 3);
    for (int remaining = 2; remaining >= 1; --remaining) {
        lock.Leave();
        EXPECT_EQ(TryFromOtherProcess(name), kRefused) << remaining << " levels held";
    }
    lock.Leave();
    EXPECT_EQ(lock.Shared()->ownerThreadId, 0);
    EXPECT_EQ(LockCount(lock), 0);
    EXPECT_EQ(TryFromOtherProcess(name), kAcquired);
}

TEST(Optex, OneReleaseWakesExactlyOneOfTwoWaitingProcesses) {
    const std::string name = UniqueName("optex-two-waiters");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);

    const std::string tags[2] = {name + "-a", name + "-b"};
    NamedEvent in[2] = {NamedEvent(tags[0] + "-in"), NamedEvent(tags[1] + "-in")};
    NamedEvent out[2] = {NamedEvent(tags[0] + "-out"), NamedEvent(tags[1] + "-out")};
    ChildProcess waiters[2] = {ChildProcess::Start("OptexEnterAndHold", {name, tags[0]}),
                               ChildProcess::Start("OptexEnterAndHold", {name, tags[1]})};
    // Both have announced themselves once the count holds our level and theirs.
    ASSERT_TRUE(test::WaitUntil([&] { return LockCount(lock) == 3; }));

    lock.Leave();
    ASSERT_TRUE(test::WaitUntil([&] { return in[0].IsSignalled() || in[1].IsSignalled(); }));
    const int first = in[0].IsSignalled() ? 0 : 1;
    const int second = 1 - first;
    EXPECT_FALSE(in[second].WaitFor(test::kQuietPeriodMs)) << "one release woke both waiters";
    EXPECT_EQ(LockCount(lock), 2);

    out[first].Signal();
    EXPECT_TRUE(in[second].Await());
    out[second].Signal();
    EXPECT_EQ(waiters[first].Wait(), 0);
    EXPECT_EQ(waiters[second].Wait(), 0);
    EXPECT_EQ(LockCount(lock), 0);
}

TEST(Optex, AnnouncedWaiterCannotBeOvertakenByTryEnter) {
    const std::string name = UniqueName("optex-overtake");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);

    const std::string tag = name + "-waiter";
    NamedEvent in(tag + "-in");
    NamedEvent out(tag + "-out");
    ChildProcess waiter = ChildProcess::Start("OptexEnterAndHold", {name, tag});
    ASSERT_TRUE(test::WaitUntil([&] { return LockCount(lock) == 2; }));

    // Freeze the waiter between its announcement and taking the lock, so the
    // window after the release stays open for as long as we look.
    ASSERT_NE(::SuspendThread(waiter.mainThread()), static_cast<DWORD>(-1));
    lock.Leave();
    EXPECT_EQ(lock.Shared()->ownerThreadId, 0);
    EXPECT_EQ(LockCount(lock), 1);
    EXPECT_FALSE(lock.TryEnter()) << "a thread of the releasing process overtook the waiter";
    EXPECT_EQ(TryFromOtherProcess(name), kRefused) << "another process overtook the waiter";
    ::ResumeThread(waiter.mainThread());

    EXPECT_TRUE(in.Await());
    EXPECT_EQ(TryFromOtherProcess(name), kRefused);
    out.Signal();
    EXPECT_EQ(waiter.Wait(), 0);
    EXPECT_EQ(TryFromOtherProcess(name), kAcquired);
}

TEST(Optex, SingleProcessorLeavesTheSpinCountAtZeroSoTryEnterAttemptsOnce) {
    const std::string name = UniqueName("optex-single-cpu");
    Optex single;
    ASSERT_TRUE(InitLock(single, name, 1));
    EXPECT_EQ(single.Shared()->spinCount, 0) << "a fresh block spins zero times";
    single.SetSpinCount(100);
    EXPECT_EQ(single.Shared()->spinCount, 0);

    Optex multi;
    ASSERT_TRUE(InitLock(multi, name, 4));
    EXPECT_EQ(multi.Shared()->spinCount, 4000);

    const std::string tag = name + "-holder";
    NamedEvent in(tag + "-in");
    NamedEvent out(tag + "-out");
    ChildProcess holder = ChildProcess::Start("OptexEnterAndHold", {name, tag});
    ASSERT_TRUE(in.Await());
    EXPECT_FALSE(single.TryEnter());
    EXPECT_FALSE(multi.TryEnter());
    out.Signal();
    EXPECT_EQ(holder.Wait(), 0);
}

TEST(Optex, WideAndAnsiNamesMeetInTheSameLock) {
    const std::string name = UniqueName("optex-wide");
    const std::wstring wide(name.begin(), name.end());
    Optex ansiLock;
    Optex wideLock;
    ASSERT_TRUE(InitLock(ansiLock, name));
    ASSERT_TRUE(wideLock.Init(wide.c_str(), true, 4000, 2));
    ASSERT_EQ(ansiLock.Enter(), LockResult::kAcquired);
    EXPECT_EQ(wideLock.Shared()->ownerThreadId, static_cast<LONG>(::GetCurrentThreadId()));
    ansiLock.Leave();
    EXPECT_EQ(wideLock.Shared()->lockCount, 0);
}

TEST(Optex, UnusableLockTouchesNothingAndSaysItIsNotHeld) {
    Optex lock;
    const std::string tooLong(Optex::kMaxObjectNameLength, 'x');
    EXPECT_FALSE(InitLock(lock, tooLong));
    EXPECT_FALSE(lock.IsUsable());
    EXPECT_FALSE(lock.TryEnter());
    EXPECT_EQ(lock.Enter(), LockResult::kUnusable);
    lock.Leave();
    EXPECT_FALSE(static_cast<bool>(lock.Acquire()));
    EXPECT_FALSE(lock.Init(nullptr, false, 0));

    Optex destroyed;
    ASSERT_TRUE(InitLock(destroyed, UniqueName("optex-destroyed")));
    destroyed.Destroy();
    EXPECT_EQ(destroyed.Enter(), LockResult::kUnusable);
}

TEST(Optex, GuardLeavesWhenItGoesOutOfScope) {
    const std::string name = UniqueName("optex-guard");
    Optex lock;
    ASSERT_TRUE(InitLock(lock, name));
    {
        OptexGuard guard = lock.Acquire();
        ASSERT_TRUE(static_cast<bool>(guard));
        EXPECT_EQ(TryFromOtherProcess(name), kRefused);
    }
    EXPECT_EQ(TryFromOtherProcess(name), kAcquired);
}

}  // namespace
}  // namespace dlmgr
