// DM_SetTaskInfo: append, replace in place, trim, and a full table.
#include <windows.h>

#include "log/messages.h"
#include "settings/settings_names.h"
#include "tests/module/host_calls.h"
#include "tests/module/module_fixture.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_sync.h"

namespace dlmgr::test {
namespace {

using Ids = std::vector<int>;

DLMGR_CHILD_SCENARIO(RegistrationRules) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    Register(lib, MakeTaskRecord(1, DLMGR_STATUS_RUNNING));
    EXPECT_EQ(lib.GetTimeStamp(0), 1u);
    EXPECT_EQ(lib.GetTimeStamp(1), 0u);
    Register(lib, MakeTaskRecord(2, DLMGR_STATUS_RUNNING));
    Register(lib, MakeTaskRecord(3, DLMGR_STATUS_RUNNING));
    EXPECT_EQ(ListIds(lib, 0), Ids({1, 2, 3}));

    // Same id, another status: replaced in place, both counters move.
    TaskRecord paused = MakeTaskRecord(2, DLMGR_STATUS_PAUSED);
    std::strcpy(paused.filePath, "C:\\new\\path.bin");
    Register(lib, paused);
    EXPECT_EQ(lib.GetTimeStamp(0), 4u);
    EXPECT_EQ(lib.GetTimeStamp(1), 1u);
    EXPECT_EQ(ListIds(lib, 0), Ids({1, 3}));
    const auto stopped = ListTasks(lib, 1);
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_STREQ(stopped[0].filePath, "C:\\new\\path.bin");

    // An identical record still counts two changes.
    Register(lib, paused);
    EXPECT_EQ(lib.GetTimeStamp(1), 3u);
    EXPECT_EQ(lib.GetTimeStamp(7), 3u);

    EXPECT_EQ(lib.SetTaskInfo(nullptr), 0);
    EXPECT_EQ(lib.GetTimeStamp(0), 4u);
}

TEST_F(ModuleTest, RegistrationAppendsNewIdsAndReplacesKnownOnesInPlace) {
    EXPECT_EQ(Run("RegistrationRules"), 0);
    const auto store = Store();
    EXPECT_EQ(RecordIds(*store), Ids({1, 2, 3}));
    EXPECT_EQ(store->records[1].status, DLMGR_STATUS_PAUSED);
}

DLMGR_CHILD_SCENARIO(RegistrationTrims) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    for (int i = 0; i < 30; ++i) {
        const int status = i == 4 || i == 9 ? DLMGR_STATUS_COMPLETED : DLMGR_STATUS_RUNNING;
        Register(lib, MakeTaskRecord(static_cast<unsigned char>(i), status));
    }
    const unsigned stoppedBefore = lib.GetTimeStamp(1);
    Register(lib, MakeTaskRecord(100, DLMGR_STATUS_RUNNING));
    EXPECT_EQ(lib.GetTimeStamp(1), stoppedBefore + 1) << "one completed task trimmed";
    EXPECT_EQ(ListIds(lib, 1), Ids({9}));
    EXPECT_EQ(ListTasks(lib, 0).size() + 1, 30u);
}

TEST_F(ModuleTest, RegistrationOfANewTaskFirstTrimsTheOldestCompletedOne) {
    EXPECT_EQ(Run("RegistrationTrims"), 0);
}

DLMGR_CHILD_SCENARIO(RegistrationFullTable) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    for (int i = 0; i < 512; ++i) {
        TaskRecord record = MakeTaskRecord(static_cast<unsigned char>(i), DLMGR_STATUS_RUNNING);
        record.id.bytes[1] = static_cast<unsigned char>(i >> 8);
        Register(lib, record);
    }
    const unsigned running = lib.GetTimeStamp(0);
    const unsigned stopped = lib.GetTimeStamp(1);
    const TaskRecord extra = MakeTaskRecord(0xFF, DLMGR_STATUS_COMPLETED);
    TaskRecord extraWithNewId = extra;
    extraWithNewId.id.bytes[2] = 9;
    EXPECT_EQ(lib.SetTaskInfo(&extraWithNewId), 0) << "a full table must refuse, not throw";
    EXPECT_TRUE(StoreIsFreeForOthers(lib));
    EXPECT_EQ(lib.GetTimeStamp(0), running);
    EXPECT_EQ(lib.GetTimeStamp(1), stopped);
    EXPECT_EQ(lib.GetTaskCount(0), 512u);
    EXPECT_EQ(lib.GetTaskInfo(nullptr), 0);
}

TEST_F(ModuleTest, FullTableRefusesWithFalseLeavesTheStoreFreeAndLogsTheFailedAddThenThatItIsFull) {
    EXPECT_EQ(Run("RegistrationFullTable"), 0);
    EXPECT_EQ(ReadLogMessages(DefaultLog()),
              std::vector<std::string>({messages::kAddFailed, messages::kTableFull}));
    EXPECT_EQ(Store()->header.taskCount, 512u);
}

// Registers one paused task (id 0x77) after "<name>" is signalled.
DLMGR_CHILD_SCENARIO(RegisterSameIdAfterSignal) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    EXPECT_TRUE(NamedEvent(args.at(0)).Await());
    for (int i = 0; i < 50; ++i) Register(lib, MakeTaskRecord(0x77, DLMGR_STATUS_PAUSED));
}

TEST_F(ModuleTest, TwoProcessesRegisteringTheSameNewIdMakeOneRecord) {
    const std::string name = UniqueName("same-id");
    NamedEvent go(name);
    ChildProcess a = Start("RegisterSameIdAfterSignal", {name});
    ChildProcess b = Start("RegisterSameIdAfterSignal", {name});
    go.Signal();
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
    EXPECT_EQ(RecordIds(*Store()), Ids({0x77}));
}

}  // namespace
}  // namespace dlmgr::test
