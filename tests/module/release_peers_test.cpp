// Hosts of released builds (built from their commits: tests/releases.txt)
// share the store with ours. Their threads keep records under rules of their
// own, in objects whose names ours never open: to this build they are
// threads that keep no record, and one that holds the store is waited for
// while it lives, however long.
#include <windows.h>

#include <cstring>

#include "log/messages.h"
#include "store/task_store.h"
#include "sync/optex.h"
#include "tests/module/host_calls.h"
#include "tests/module/module_fixture.h"
#include "tests/support/test_sync.h"

namespace dlmgr::test {
namespace {

struct Counter {
    DlmgrLibrary* lib = nullptr;
    volatile LONG stop = 0;
};

DWORD WINAPI CountUntilStopped(void* parameter) {
    auto* counter = static_cast<Counter*>(parameter);
    while (counter->stop == 0) counter->lib->GetTaskCount(1);
    return 0;
}

// Loads the dlmgr.dll at args[0] and counts on a worker again and again until
// the worker is held up (suspended) while it holds the store; signals
// "<args[1]>-held", and lets it go on "<args[1]>-go".
DLMGR_CHILD_SCENARIO(ReleaseHostHeldUpHolding) {
    DlmgrLibrary lib(args.at(0));
    ASSERT_TRUE(lib.loaded());
    const UniqueMapping mapping(::OpenFileMappingA(
        FILE_MAP_READ, FALSE, (std::string(Optex::kMappingPrefix) + kStoreLockName).c_str()));
    ASSERT_TRUE(mapping.valid());
    const UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, sizeof(OptexShared)));
    ASSERT_TRUE(view.valid());
    const auto* shared = static_cast<const OptexShared*>(view.get());
    Counter counter{&lib};
    const UniqueThread worker(::CreateThread(nullptr, 0, CountUntilStopped, &counter, 0, nullptr));
    const auto workerId = static_cast<LONG>(::GetThreadId(worker.get()));
    bool held = false;
    for (int attempt = 0; attempt < 100000 && !held; ++attempt) {
        ::SuspendThread(worker.get());
        held = shared->ownerThreadId == workerId;
        if (!held) ::ResumeThread(worker.get());
    }
    ASSERT_TRUE(held) << "the worker was never held up holding the store";
    NamedEvent(args.at(1) + "-held").Signal();
    EXPECT_TRUE(NamedEvent(args.at(1) + "-go").Await());
    counter.stop = 1;
    ::ResumeThread(worker.get());
    ::WaitForSingleObject(worker.get(), kChildTimeoutMs);
}

class ReleasePeers : public ModuleTest {
protected:
    // A thread of ours takes the store and ends (its record given back); a
    // host of the release then holds the store, held up; our host that
    // registers a task waits for it, and gets in once it lets go.
    void ExpectLiveHolderWaitedFor(const char* version) {
        const std::string dll = ReleasedDllPath(version);
        if (!FileExists(dll)) GTEST_SKIP() << "release " << version << " was not built (no history)";
        const std::string name = UniqueName("release-holder");
        ASSERT_EQ(Run("Load"), 0);
        ChildProcess release = Start("ReleaseHostHeldUpHolding", {dll, name + "-release"});
        ASSERT_TRUE(NamedEvent(name + "-release-held").Await());
        ChildProcess ours = Start("SetOneTask", {name});
        ASSERT_TRUE(NamedEvent(name + "-loaded").Await());
        const NamedEvent afterSet(name + "-after-set");
        NamedEvent(name + "-go").Signal();
        EXPECT_FALSE(afterSet.Await(1500)) << "the store was taken from a live holder of " << version;
        NamedEvent(name + "-release-go").Signal();
        EXPECT_TRUE(afterSet.Await(5000)) << "the store never came to our host after the release's";
        EXPECT_EQ(ours.Wait(), 0);
        EXPECT_EQ(release.Wait(), 0);
        EXPECT_EQ(Store()->header.taskCount, 1u);
        // No line says a holder was taken over.
        const std::string takenOver(messages::kStoreLockTakenOver,
                                    std::strcspn(messages::kStoreLockTakenOver, "%"));
        for (const std::string& line : ReadLogMessages(DefaultLog())) {
            EXPECT_NE(line.compare(0, takenOver.size(), takenOver), 0) << line;
        }
    }
};

TEST_F(ReleasePeers, LiveHolderOf1_0_0IsWaitedFor) { ExpectLiveHolderWaitedFor("1.0.0"); }
TEST_F(ReleasePeers, LiveHolderOf1_1_0IsWaitedFor) { ExpectLiveHolderWaitedFor("1.1.0"); }
TEST_F(ReleasePeers, LiveHolderOf1_3_0IsWaitedFor) { ExpectLiveHolderWaitedFor("1.3.0"); }

}  // namespace
}  // namespace dlmgr::test
