// Store operations on a plain in-memory block, with MaxTaskCount from a
// scratch registry key.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/settings_names.h"
#include "store/store_repair.h"
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

// A change of this build to tasks 1 .. 5 cut short by a death, perhaps
// followed by one of a build that keeps no intent, and the repair the next
// host makes on taking the store over.
class InterruptedChange : public TaskTableTest {
protected:
    void SetUp() override {
        TaskTableTest::SetUp();
        intent = StoreIntent{};
        for (unsigned char id = 1; id <= 5; ++id) Add(id, DLMGR_STATUS_PAUSED);
    }

    // The removal of index as a death leaves it: `moved` records moved down,
    // progress noted, and the new count written or not.
    void CutRemovalShort(int index, int moved, int progress, bool countWritten) {
        const std::unique_ptr<StoreBlock> before(new StoreBlock(*block));
        ASSERT_TRUE(withIntent.RemoveTask(index));
        *block = *before;
        for (int i = index; i < index + moved; ++i) block->records[i] = block->records[i + 1];
        if (countWritten) --block->header.taskCount;
        intent.progress = static_cast<std::uint32_t>(progress);
        intent.operation = kIntentRemove;
    }
    // The update of index to status running as a death leaves it, the record
    // copied or not.
    void CutUpdateShort(int index, bool copied) {
        const StoreHeader before = block->header;
        const TaskRecord old = block->records[index];
        ASSERT_TRUE(withIntent.UpdateTask(index, Updated(old.id.bytes[0])));
        if (!copied) block->records[index] = old;
        block->header = before;
        intent.operation = kIntentOverwrite;
    }
    // A build that keeps no intent makes a change and dies before its
    // counters move, after writing its count or before.
    void EarlierBuildDies(const std::function<void(TaskTable&)>& change, bool countWritten) {
        const StoreHeader before = block->header;
        TaskTable earlier(*block, settings);
        change(earlier);
        block->header.timeStamp[0] = before.timeStamp[0];
        block->header.timeStamp[1] = before.timeStamp[1];
        if (!countWritten) block->header.taskCount = before.taskCount;
    }

    static TaskRecord Updated(unsigned char idByte) { return MakeTask(idByte, DLMGR_STATUS_RUNNING); }
    // The tasks in table order, an updated one marked: "1 2' 3".
    std::string Tasks() const {
        std::string text;
        for (std::uint32_t i = 0; i < block->header.taskCount; ++i) {
            if (!text.empty()) text += ' ';
            text += std::to_string(block->records[i].id.bytes[0]);
            if (block->records[i].status == DLMGR_STATUS_RUNNING) text += '\'';
        }
        return text;
    }

    StoreIntent intent{};
    TaskTable withIntent{*block, settings, &intent};
};

TEST_F(InterruptedChange, IsCompletedWhereverTheDeathCameOnTheRecordsItBeganOn) {
    for (int index : {0, 2, 4}) {
        const int moves = 4 - index;
        for (int moved = 0; moved <= moves; ++moved) {
            // Then progress still on the last record moved, or on the next,
            // half copied; after the last move, the count written or not.
            for (bool next : {false, true}) {
                const bool halfCopied = next && moved < moves;
                const bool countWritten = next && moved == moves;
                const int progress = halfCopied || moved == 0 ? index + moved : index + moved - 1;
                SCOPED_TRACE(::testing::Message() << "index " << index << ", moved " << moved
                                                  << (halfCopied ? ", next half copied" : "")
                                                  << (countWritten ? ", count written" : ""));
                SetUp();
                CutRemovalShort(index, moved, progress, countWritten);
                if (halfCopied) {
                    std::memcpy(&block->records[progress], &block->records[progress + 1],
                                sizeof(TaskRecord) / 2);
                }
                EXPECT_EQ(CompleteInterruptedChange(*block, intent), IntentOutcome::kCompleted);
                Ids expected = {1, 2, 3, 4, 5};
                expected.erase(expected.begin() + index);
                EXPECT_EQ(TableIds(), expected);
                EXPECT_EQ(intent.operation, kIntentNone);
            }
        }
    }
    for (bool copied : {false, true}) {
        SetUp();
        CutUpdateShort(2, copied);
        EXPECT_EQ(CompleteInterruptedChange(*block, intent), IntentOutcome::kCompleted);
        EXPECT_EQ(Tasks(), "1 2 3' 4 5");
    }
}

// Each check of the intent against the table, and the table it would lose a
// task or an update on were the intent rolled forward.
TEST_F(InterruptedChange, IsDroppedWhenTheTableNoLongerHoldsItsRecords) {
    const auto removeFirst = [](TaskTable& earlier) { ASSERT_TRUE(earlier.RemoveTask(0)); };
    struct Case {
        const char* check;
        std::function<void()> damage;
        const char* expected;
    };
    const Case cases[] = {
        {"kind: an intent of 1.3.0, which carries no checksum",
         [&] {
             CutRemovalShort(0, 0, 0, false);
             intent.tied = kIntentTied;
         },
         "1 2 3 4 5"},
        {"counters: a finished update of the record moved last, which lookups find first",
         [&] {
             CutRemovalShort(0, 2, 1, false);
             ASSERT_TRUE(TaskTable(*block, settings).UpdateTask(1, Updated(3)));
         },
         "2 3' 4 5"},
        {"count: an append cut short after its count",
         [&] {
             CutRemovalShort(0, 0, 0, false);
             EarlierBuildDies(
                 [](TaskTable& earlier) { ASSERT_TRUE(earlier.AddTask(MakeTask(6, DLMGR_STATUS_PAUSED))); },
                 true);
         },
         "1 2 3 4 5 6"},
        {"checksum: task 2, moved down once, removed again, count and all",
         [&] {
             CutRemovalShort(0, 1, 1, false);
             EarlierBuildDies(removeFirst, true);
         },
         "2 3 4 5"},
        {"id: task 1 removed, all but the count, under an update of task 3",
         [&] {
             CutUpdateShort(2, false);
             EarlierBuildDies(removeFirst, false);
         },
         "2 3 4 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.check);
        SetUp();
        c.damage();
        RepairStore(*block, &intent, settings, true);
        EXPECT_EQ(Tasks(), c.expected);
        EXPECT_EQ(intent.operation, kIntentNone);
    }
}

}  // namespace
}  // namespace dlmgr
