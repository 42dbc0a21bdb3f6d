// Change counters and the count-then-copy listing protocol across threads
// and processes.
#include <windows.h>

#include "tests/module/host_calls.h"
#include "tests/module/module_fixture.h"
#include "tests/support/test_sync.h"

namespace dlmgr::test {
namespace {

using Ids = std::vector<int>;

DLMGR_CHILD_SCENARIO(ListingRules) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    EXPECT_EQ(lib.GetLastError(), 0);

    TaskRecord buffer[2];
    EXPECT_EQ(lib.GetTaskInfo(buffer), 0) << "copy without a count";

    EXPECT_EQ(lib.GetTaskCount(1), 0u);
    EXPECT_FALSE(StoreIsFreeForOthers(lib, kQuietPeriodMs)) << "the count must hold the store";
    EXPECT_EQ(lib.GetTaskInfo(buffer), 1);
    EXPECT_TRUE(StoreIsFreeForOthers(lib));

    const int statuses[] = {0, 1, 2, 3, 4, 5, 6, 7, 42};
    for (int i = 0; i < 9; ++i) Register(lib, MakeTaskRecord(0x30 + i, statuses[i]));
    EXPECT_EQ(ListIds(lib, 1), Ids({0x31, 0x32, 0x33, 0x37, 0x38}));
    EXPECT_EQ(ListIds(lib, 5), ListIds(lib, 1));
    EXPECT_EQ(ListIds(lib, 0), Ids({0x30, 0x34, 0x35, 0x36}));

    const auto copied = ListTasks(lib, 0);
    const TaskRecord expected = MakeTaskRecord(0x34, 4);
    EXPECT_EQ(std::memcmp(&copied[1], &expected, sizeof(TaskRecord)), 0);
}

TEST_F(ModuleTest, ListingCopiesExactlyTheCategoryInStoreOrder) {
    EXPECT_EQ(Run("ListingRules"), 0);
}

DLMGR_CHILD_SCENARIO(ListingMisuse) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    Register(lib, MakeTaskRecord(1, DLMGR_STATUS_RUNNING));
    Register(lib, MakeTaskRecord(2, DLMGR_STATUS_PAUSED));

    // A repeated count: the one copy that follows frees the store.
    EXPECT_EQ(lib.GetTaskCount(0), 1u);
    EXPECT_EQ(lib.GetTaskCount(1), 1u);
    TaskRecord records[3];
    std::memset(records, 0, sizeof(records));
    EXPECT_EQ(lib.GetTaskInfo(records), 1);
    EXPECT_EQ(records[0].id.bytes[0], 2) << "copies the category of the last count";
    EXPECT_EQ(records[1].id.bytes[0], 0);
    EXPECT_TRUE(StoreIsFreeForOthers(lib));
    EXPECT_EQ(lib.GetTaskInfo(records), 0);

    // Tasks the listing thread adds between count and copy are not copied.
    EXPECT_EQ(lib.GetTaskCount(0), 1u);
    Register(lib, MakeTaskRecord(3, DLMGR_STATUS_RUNNING));
    std::memset(records, 0xEE, sizeof(records));
    EXPECT_EQ(lib.GetTaskInfo(records), 1);
    EXPECT_EQ(records[0].id.bytes[0], 1);
    EXPECT_EQ(records[1].id.bytes[0], 0xEE) << "wrote beyond the counted records";

    // A null buffer ends the listing all the same.
    EXPECT_EQ(lib.GetTaskCount(0), 2u);
    EXPECT_EQ(lib.GetTaskInfo(nullptr), 0);
    EXPECT_TRUE(StoreIsFreeForOthers(lib));

    // A copy on another thread than the count's does nothing.
    EXPECT_EQ(lib.GetTaskCount(1), 1u);
    EXPECT_TRUE(RunOnOtherThread([&] { EXPECT_EQ(lib.GetTaskInfo(records), 0); }));
    EXPECT_EQ(lib.GetTaskInfo(records), 1);
    EXPECT_TRUE(StoreIsFreeForOthers(lib));
}

TEST_F(ModuleTest, ListingMisuseNeverLeavesTheStoreLockedOrOverrunsTheBuffer) {
    EXPECT_EQ(Run("ListingMisuse"), 0);
}

// Registers two running tasks, counts, signals "<name>-counted", copies on
// "<name>-copy" and checks the copy matched the count.
DLMGR_CHILD_SCENARIO(CountThenWait) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    Register(lib, MakeTaskRecord(1, DLMGR_STATUS_RUNNING));
    Register(lib, MakeTaskRecord(2, DLMGR_STATUS_RUNNING));
    ASSERT_EQ(lib.GetTaskCount(0), 2u);
    NamedEvent(args.at(0) + "-counted").Signal();
    EXPECT_TRUE(NamedEvent(args.at(0) + "-copy").Await());
    TaskRecord records[3];
    std::memset(records, 0xEE, sizeof(records));
    EXPECT_EQ(lib.GetTaskInfo(records), 1);
    EXPECT_EQ(records[1].id.bytes[0], 2);
    EXPECT_EQ(records[2].id.bytes[0], 0xEE);
    NamedEvent(args.at(0) + "-copied").Signal();
    EXPECT_TRUE(NamedEvent(args.at(0) + "-finish").Await());
    EXPECT_EQ(ListIds(lib, 0), Ids({1, 2, 3}));
}

// Loads, signals "<name>-loaded", and on "<name>-go" registers one running
// task (id 3) between "<name>-before-set" and "<name>-after-set".
DLMGR_CHILD_SCENARIO(SetOneTask) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    NamedEvent(args.at(0) + "-loaded").Signal();
    EXPECT_TRUE(NamedEvent(args.at(0) + "-go").Await());
    NamedEvent(args.at(0) + "-before-set").Signal();
    Register(lib, MakeTaskRecord(3, DLMGR_STATUS_RUNNING));
    NamedEvent(args.at(0) + "-after-set").Signal();
}

// Counts, so holding the store, on "<name>-polled" registers task 3, then
// ends the listing.
DLMGR_CHILD_SCENARIO(HoldThenRegister) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    lib.GetTaskCount(0);
    NamedEvent(args.at(0) + "-held").Signal();
    EXPECT_TRUE(NamedEvent(args.at(0) + "-polled").Await());
    Register(lib, MakeTaskRecord(3, DLMGR_STATUS_RUNNING));
    EXPECT_EQ(lib.GetTaskInfo(nullptr), 0);
    NamedEvent(args.at(0) + "-released").Signal();
}

// Polls while another process holds the store, then lists once it moved.
DLMGR_CHILD_SCENARIO(PollWhileAnotherHolds) {
    // Made before anyone may signal them: the holder signals "released" and
    // ends at once.
    NamedEvent held(args.at(0) + "-held"), released(args.at(0) + "-released");
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    NamedEvent(args.at(0) + "-poller-loaded").Signal();
    EXPECT_TRUE(held.Await());
    unsigned before = 0;
    EXPECT_TRUE(RunOnOtherThread([&] { before = lib.GetTimeStamp(0); }, 2000))
        << "a poll waited for the store";
    NamedEvent(args.at(0) + "-polled").Signal();
    EXPECT_TRUE(released.Await());
    EXPECT_NE(lib.GetTimeStamp(0), before);
    EXPECT_EQ(ListIds(lib, 0), Ids({3})) << "the counter moved before its record was there";
}

TEST_F(ModuleTest, PollAnswersAtOnceWhileAnotherHostHoldsTheStore) {
    const std::string name = UniqueName("poll");
    ChildProcess poller = Start("PollWhileAnotherHolds", {name});
    ASSERT_TRUE(NamedEvent(name + "-poller-loaded").Await());
    ChildProcess holder = Start("HoldThenRegister", {name});
    EXPECT_EQ(holder.Wait(), 0);
    EXPECT_EQ(poller.Wait(), 0);
}

class ListingContention : public ModuleTest {
protected:
    // A registration waits while another process copies a listing, and is
    // served after it.
    void ExpectRegistrationWaitsForListing(bool listerOfTheOtherBuild) {
        const std::string name = UniqueName("listing");
        NamedEvent counted(name + "-counted"), copy(name + "-copy"), copied(name + "-copied"),
            finish(name + "-finish"), loaded(name + "-loaded"), go(name + "-go"),
            beforeSet(name + "-before-set"), afterSet(name + "-after-set");
        // Loading waits for the store too, so the setter loads before the count.
        ChildProcess setter = Start("SetOneTask", {name});
        ASSERT_TRUE(loaded.Await());
        ChildProcess lister = Start("CountThenWait", {name}, listerOfTheOtherBuild);
        ASSERT_TRUE(counted.Await());
        go.Signal();
        ASSERT_TRUE(beforeSet.Await());
        EXPECT_FALSE(afterSet.WaitFor(kQuietPeriodMs)) << "registered while a listing held the store";
        copy.Signal();
        ASSERT_TRUE(copied.Await());
        EXPECT_TRUE(afterSet.Await());
        EXPECT_EQ(setter.Wait(), 0);
        finish.Signal();
        EXPECT_EQ(lister.Wait(), 0);
    }
};

TEST_F(ListingContention, RegistrationInAnotherProcessWaitsWhileAListIsBeingCopied) {
    ExpectRegistrationWaitsForListing(false);
}

TEST_F(ListingContention, RegistrationWaitsForAListingOfTheOtherPointerSizesBuild) {
    DLMGR_REQUIRE_OTHER_BUILD();
    ExpectRegistrationWaitsForListing(true);
}

}  // namespace
}  // namespace dlmgr::test
