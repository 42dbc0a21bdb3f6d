// A host killed while it holds the store stops neither the other hosts nor
// the processes that load the library after it.
#include <windows.h>

#include <cstdio>

#include "log/messages.h"
#include "tests/module/host_calls.h"
#include "tests/module/module_fixture.h"
#include "tests/support/test_sync.h"

namespace dlmgr::test {
namespace {

// Registers a paused task, counts (taking the store) and hangs before the copy.
DLMGR_CHILD_SCENARIO(CountAndHang) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    Register(lib, MakeTaskRecord(1, DLMGR_STATUS_PAUSED));
    ASSERT_EQ(lib.GetTaskCount(1), 1u);
    NamedEvent(args.at(0) + "-counted").Signal();
    ::Sleep(kChildTimeoutMs);
}

class HostDeath : public ModuleTest {
protected:
    // A host killed between its count and its copy: a host waiting to
    // register takes the store over within seconds, and a new load succeeds.
    void ExpectKilledListerTakenOver(bool listerOfTheOtherBuild) {
        constexpr DWORD kCapMs = 5000;
        const std::string name = UniqueName("killed-lister");
        ChildProcess keeper = Start("HoldStore", {name + "-keeper"});  // keeps the table mapped
        ASSERT_TRUE(NamedEvent(name + "-keeper-loaded").Await());
        ChildProcess other = Start("SetOneTask", {name});
        ASSERT_TRUE(NamedEvent(name + "-loaded").Await());
        ChildProcess lister = Start("CountAndHang", {name}, listerOfTheOtherBuild);
        ASSERT_TRUE(NamedEvent(name + "-counted").Await());

        ::TerminateProcess(lister.handle(), 1);
        ::WaitForSingleObject(lister.handle(), kSignalTimeoutMs);
        ChildProcess newcomer = Start("Load");
        const NamedEvent afterSet(name + "-after-set");  // signalled by a child that then ends
        NamedEvent(name + "-go").Signal();
        EXPECT_TRUE(afterSet.Await(kCapMs)) << "another host's export";
        EXPECT_EQ(newcomer.Wait(kCapMs), 0) << "a new load";
        EXPECT_EQ(other.Wait(), 0);
        EXPECT_EQ(Run("ExpectTasks", {"2"}), 0);
        NamedEvent(name + "-keeper-release").Signal();
        EXPECT_EQ(keeper.Wait(), 0);

        char expected[128];
        std::snprintf(expected, sizeof(expected), messages::kStoreLockTakenOver,
                      ::GetProcessId(lister.handle()), ::GetThreadId(lister.mainThread()));
        EXPECT_EQ(ReadLogMessages(DefaultLog()), std::vector<std::string>({expected}))
            << "one level-8 line for the one takeover";
    }
};

TEST_F(HostDeath, HostKilledBetweenCountAndCopyStopsNeitherOtherHostsNorNewLoads) {
    ExpectKilledListerTakenOver(false);
}

// Run from each build, this covers both directions: a 32-bit host takes over
// from a 64-bit one and the reverse.
TEST_F(HostDeath, HostOfTheOtherPointerSizeKilledHoldingTheStoreIsTakenOver) {
    DLMGR_REQUIRE_OTHER_BUILD();
    ExpectKilledListerTakenOver(true);
}

LONG WINAPI DieOfTheFault(EXCEPTION_POINTERS* exception) {
    ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Passes a wild pointer to one export and dies of the fault, as a host would
// (without a debugger's report).
DLMGR_CHILD_SCENARIO(PassWildPointer) {
    ::SetUnhandledExceptionFilter(DieOfTheFault);
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    auto* wild = reinterpret_cast<TaskRecord*>(0x10);
    const std::string& call = args.at(0);
    if (call == "register") lib.SetTaskInfo(wild);
    if (call == "delete") lib.DeleteTask(&wild->id);
    if (call == "copy") {
        Register(lib, MakeTaskRecord(1, DLMGR_STATUS_PAUSED));
        lib.GetTaskCount(1);
        lib.GetTaskInfo(wild);  // faults while it holds the store
    }
}

TEST_F(ModuleTest, WildPointerEndsOnlyTheHostThatPassedIt) {
    constexpr DWORD kCapMs = 5000;
    const std::string name = UniqueName("wild");
    ChildProcess keeper = Start("HoldStore", {name});  // keeps the table and its lock
    ASSERT_TRUE(NamedEvent(name + "-loaded").Await());
    for (const char* call : {"register", "delete", "copy"}) {
        EXPECT_EQ(Run("PassWildPointer", {call}), static_cast<int>(EXCEPTION_ACCESS_VIOLATION))
            << call;
        const std::string tasks = std::string(call) == "copy" ? "1" : "0";
        EXPECT_EQ(RunChild("ExpectTasks", {tasks}, ChildEnvironment(), kCapMs), 0)
            << "another host's exports after a wild pointer in " << call;
    }
    NamedEvent(name + "-release").Signal();
    EXPECT_EQ(keeper.Wait(), 0);
}

}  // namespace
}  // namespace dlmgr::test
