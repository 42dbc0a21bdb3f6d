// Store operations on a plain in-memory block, with MaxTaskCount from a
// scratch registry key.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "settings/settings_names.h"
#include "store/task_table.h"
#include "tests/support/registry_fixture.h"

namespace dlmgr {
namespace {

TaskRecord MakeTask(unsigned char idByte, int status) {
    TaskRecord record;
    std::memset(&record, 0, sizeof(record));
    record.id.bytes[0] = idByte;
    record.status = status;
    std::snprintf(record.filePath, sizeof(record.filePath), "C:\\d\\%u.bin", idByte);
    return record;
}

class TaskTableTest : public ::testing::Test {
protected:
    test::ScratchSettingsKey scratch;
    SettingsKey settings{HKEY_CURRENT_USER, scratch.path().c_str(), nullptr};
    std::unique_ptr<StoreBlock> block{new StoreBlock()};
    TaskTable table{*block, settings};

    void SetUp() override { InitialiseHeader(block->header); }

    void SetMaxTaskCount(int value) {
        test::SetRegistryDword(HKEY_CURRENT_USER, scratch.path(), kMaxTaskCountValue,
                               static_cast<DWORD>(value));
    }
    void Add(unsigned char idByte, int status) {
        ASSERT_TRUE(table.AddTask(MakeTask(idByte, status)));
    }
    // The id bytes of the records in use, in table order.
    std::vector<int> TableIds() const {
        std::vector<int> ids;
        for (std::uint32_t i = 0; i < block->header.taskCount; ++i) {
            ids.push_back(block->records[i].id.bytes[0]);
        }
        return ids;
    }
    std::uint32_t Stamp(int category) const { return block->header.timeStamp[category]; }
};

using Ids = std::vector<int>;

TEST_F(TaskTableTest, AddingToAnEmptyStoreCountsOneChangeOfItsCategory) {
    Add(1, DLMGR_STATUS_RUNNING);
    EXPECT_EQ(block->header.taskCount, 1u);
    EXPECT_EQ(Stamp(0), 1u);
    EXPECT_EQ(Stamp(1), 0u);
    const TaskRecord expected = MakeTask(1, DLMGR_STATUS_RUNNING);
    EXPECT_EQ(std::memcmp(&block->records[0], &expected, sizeof(TaskRecord)), 0);
}

TEST_F(TaskTableTest, TrimRemovesOldestCompletedFirstWithMaximumThree) {
    SetMaxTaskCount(3);
    Add(0xA, DLMGR_STATUS_COMPLETED);
    Add(0xB, DLMGR_STATUS_RUNNING);
    Add(0xC, DLMGR_STATUS_COMPLETED);
    Add(0xD, DLMGR_STATUS_RUNNING);
    EXPECT_EQ(TableIds(), Ids({0xB, 0xC, 0xD}));
    Add(0xE, DLMGR_STATUS_RUNNING);
    EXPECT_EQ(TableIds(), Ids({0xB, 0xD, 0xE}));
    EXPECT_EQ(Stamp(1), 2u + 2u) << "two completed added, two trimmed";
}

TEST_F(TaskTableTest, DefaultMaximumNeverTrimsRunningTasks) {
    for (int i = 0; i < 31; ++i) Add(static_cast<unsigned char>(i), DLMGR_STATUS_RUNNING);
    EXPECT_EQ(block->header.taskCount, 31u);
}

TEST_F(TaskTableTest, MaximumZeroOrNegativeRemovesEveryCompletedTaskOnly) {
    for (int maximum : {0, -7, -2147483135, INT_MIN}) {
        SetUp();
        SetMaxTaskCount(maximum);
        Add(1, DLMGR_STATUS_COMPLETED);
        Add(2, DLMGR_STATUS_PAUSED);
        Add(3, DLMGR_STATUS_COMPLETED);
        Add(4, DLMGR_STATUS_RUNNING);
        Add(5, DLMGR_STATUS_CLOSED);
        EXPECT_EQ(TableIds(), Ids({2, 4, 5})) << "maximum " << maximum;
    }
}

TEST_F(TaskTableTest, FullTableRefusesWithoutChangingAnything) {
    for (int i = 0; i < 512; ++i) Add(static_cast<unsigned char>(i), DLMGR_STATUS_RUNNING);
    const StoreHeader before = block->header;
    EXPECT_FALSE(table.AddTask(MakeTask(0xFF, DLMGR_STATUS_RUNNING)));
    EXPECT_EQ(std::memcmp(&before, &block->header, sizeof(before)), 0);
}

TEST_F(TaskTableTest, Maximum512TrimsOnlyWhenAllSlotsAreInUse) {
    SetMaxTaskCount(512);
    Add(0, DLMGR_STATUS_RUNNING);
    Add(1, DLMGR_STATUS_COMPLETED);
    for (int i = 2; i < 511; ++i) Add(static_cast<unsigned char>(i), DLMGR_STATUS_RUNNING);
    Add(2, DLMGR_STATUS_COMPLETED);  // the 512th: nothing trimmed yet
    EXPECT_EQ(block->header.taskCount, 512u);
    ASSERT_TRUE(table.AddTask(MakeTask(0xEE, DLMGR_STATUS_RUNNING)));
    EXPECT_EQ(block->header.taskCount, 512u);
    EXPECT_EQ(block->records[1].id.bytes[0], 2) << "the oldest completed task went";
    EXPECT_EQ(block->records[511].id.bytes[0], 0xEE);
}

TEST_F(TaskTableTest, Maximum513NeverTrims) {
    SetMaxTaskCount(513);
    for (int i = 0; i < 512; ++i) Add(static_cast<unsigned char>(i), DLMGR_STATUS_COMPLETED);
    EXPECT_FALSE(table.AddTask(MakeTask(0xEE, DLMGR_STATUS_RUNNING)));
    EXPECT_EQ(block->header.taskCount, 512u);
}

TEST_F(TaskTableTest, RemovingTheMiddleRecordKeepsTheOthersInOrder) {
    Add(1, DLMGR_STATUS_RUNNING);
    Add(2, DLMGR_STATUS_PAUSED);
    Add(3, DLMGR_STATUS_RUNNING);
    ASSERT_TRUE(table.RemoveTask(1));
    EXPECT_EQ(TableIds(), Ids({1, 3}));
    EXPECT_EQ(Stamp(1), 2u);
    EXPECT_FALSE(table.RemoveTask(2));
    EXPECT_FALSE(table.RemoveTask(-1));
    EXPECT_EQ(block->records[2].id.bytes[0], 3) << "the old last slot keeps its bytes";
}

TEST_F(TaskTableTest, UpdateCountsOldAndNewCategory) {
    Add(1, DLMGR_STATUS_RUNNING);
    ASSERT_TRUE(table.UpdateTask(0, MakeTask(1, DLMGR_STATUS_COMPLETED)));
    EXPECT_EQ(Stamp(0), 2u);
    EXPECT_EQ(Stamp(1), 1u);
    ASSERT_TRUE(table.UpdateTask(0, MakeTask(1, DLMGR_STATUS_COMPLETED)));
    EXPECT_EQ(Stamp(0), 2u);
    EXPECT_EQ(Stamp(1), 3u);
    EXPECT_EQ(block->records[0].status, DLMGR_STATUS_COMPLETED);
}

TEST_F(TaskTableTest, UpdateRefusesAnotherIdOrASlotNotInUse) {
    Add(1, DLMGR_STATUS_RUNNING);
    const StoreHeader before = block->header;
    EXPECT_FALSE(table.UpdateTask(0, MakeTask(2, DLMGR_STATUS_PAUSED)));
    EXPECT_FALSE(table.UpdateTask(1, MakeTask(1, DLMGR_STATUS_PAUSED)));
    EXPECT_EQ(std::memcmp(&before, &block->header, sizeof(before)), 0);
    EXPECT_EQ(block->records[0].status, DLMGR_STATUS_RUNNING);
}

TEST_F(TaskTableTest, FindReturnsTheFirstMatchOrMinusOne) {
    Add(7, DLMGR_STATUS_RUNNING);
    Add(8, DLMGR_STATUS_RUNNING);
    block->records[block->header.taskCount++] = MakeTask(8, DLMGR_STATUS_PAUSED);
    EXPECT_EQ(table.FindTask(MakeTask(8, 0).id), 1);
    EXPECT_EQ(table.FindTask(MakeTask(9, 0).id), -1);
    TaskId almost = MakeTask(7, 0).id;
    almost.bytes[15] = 1;
    EXPECT_EQ(table.FindTask(almost), -1);
}

TEST_F(TaskTableTest, UnknownStatusesAreTreatedAsStopped) {
    Add(1, 42);
    EXPECT_EQ(Stamp(1), 1u);
    ASSERT_TRUE(table.RemoveTask(0));
    EXPECT_EQ(Stamp(1), 2u);
}

// A removal of the first of five tasks cut short right after it began: the
// table as the death left it, and the intent that describes it.
class InterruptedRemoval : public TaskTableTest {
protected:
    void SetUp() override {
        TaskTableTest::SetUp();
        for (unsigned char id = 1; id <= 5; ++id) Add(id, DLMGR_STATUS_PAUSED);
        const StoreBlock before = *block;
        TaskTable withIntent(*block, settings, &intent);
        ASSERT_TRUE(withIntent.RemoveTask(0));
        std::memcpy(block->records, before.records, sizeof(before.records));
        block->header = before.header;
        intent.progress = 0;
        intent.operation = kIntentRemove;
    }
    StoreIntent intent{};
};

TEST_F(InterruptedRemoval, IsCompletedOnTheTableItBeganOnOnly) {
    EXPECT_EQ(CompleteInterruptedChange(*block, intent), IntentOutcome::kCompleted);
    EXPECT_EQ(TableIds(), Ids({2, 3, 4, 5}));
    EXPECT_EQ(intent.operation, kIntentNone);

    // The same intent again, after a build that keeps no intent added two
    // tasks (or the file was restored from a copy): rolling it forward would
    // drop tasks that were never deleted.
    SetUp();
    Add(6, DLMGR_STATUS_PAUSED);
    Add(7, DLMGR_STATUS_PAUSED);
    EXPECT_EQ(CompleteInterruptedChange(*block, intent), IntentOutcome::kDropped);
    EXPECT_EQ(TableIds(), Ids({1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(intent.operation, kIntentNone);

    // An intent that names no table (written by an earlier build) is dropped.
    SetUp();
    intent.tied = 0;
    EXPECT_EQ(CompleteInterruptedChange(*block, intent), IntentOutcome::kDropped);
    EXPECT_EQ(TableIds(), Ids({1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace dlmgr
