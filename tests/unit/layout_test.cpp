// The byte layout shared with hosts and between processes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "store/task_id.h"
#include "store/task_store.h"

namespace dlmgr {
namespace {

TEST(StoreLayout, BlockHoldsHeaderAnd512RecordsEndingOnItsLastByte) {
    EXPECT_EQ(sizeof(StoreBlock), 569360u);
    EXPECT_EQ(offsetof(StoreBlock, records) + 511 * sizeof(TaskRecord) + sizeof(TaskRecord),
              sizeof(StoreBlock));
    EXPECT_EQ(offsetof(StoreBlock, records) + 7 * sizeof(TaskRecord), 16u + 7u * 1112u);
}

TEST(StoreLayout, RecordFieldsSitWhereHostsExpectThem) {
    EXPECT_EQ(sizeof(TaskRecord), 1112u);
    EXPECT_EQ(offsetof(TaskRecord, kind), 16u);
    EXPECT_EQ(offsetof(TaskRecord, torrentName), 20u);
    EXPECT_EQ(offsetof(TaskRecord, filePath), 276u);
    EXPECT_EQ(offsetof(TaskRecord, source), 788u);
    EXPECT_EQ(offsetof(TaskRecord, status), 1088u);
    EXPECT_EQ(offsetof(TaskRecord, reserved), 1092u);
}

TEST(StoreLayout, InitialisedHeaderIsAValidEmptyStore) {
    StoreHeader header;
    std::memset(&header, 0xAB, sizeof(header));
    InitialiseHeader(header);
    EXPECT_EQ(header.magic, 2u);
    EXPECT_EQ(header.taskCount, 0u);
    EXPECT_EQ(header.timeStamp[0], 0u);
    EXPECT_EQ(header.timeStamp[1], 0u);
}

TEST(StatusCategories, StoppedAreOneTwoThreeSevenAndUnknownStatusesCountAsStopped) {
    for (int status : {1, 2, 3, 7}) EXPECT_EQ(CategoryOfStatus(status), 1) << status;
    for (int status : {0, 4, 5, 6}) EXPECT_EQ(CategoryOfStatus(status), 0) << status;
    for (int status : {-1, 8, 1000, INT_MIN, INT_MAX}) EXPECT_EQ(CategoryOfStatus(status), 1) << status;
    EXPECT_EQ(ReduceCategory(0), 0);
    EXPECT_EQ(ReduceCategory(5), 1);
    EXPECT_EQ(ReduceCategory(-1), 1);
}

TEST(TaskIdentity, IdsDifferingInAnyOneByteAreDifferentTasks) {
    TaskId a = {};
    for (int i = 0; i < 16; ++i) a.bytes[i] = static_cast<unsigned char>(0x10 + i);
    TaskId same = a;
    EXPECT_TRUE(SameTaskId(a, same));
    for (int i = 0; i < 16; ++i) {
        TaskId other = a;
        other.bytes[i] ^= 0x01;
        EXPECT_FALSE(SameTaskId(a, other)) << "byte " << i;
    }
}

TEST(TaskIdentity, FormatsAsFourLittleEndianWords) {
    TaskId id = {};
    id.bytes[0] = 0x01;
    char text[kTaskIdTextSize];
    FormatTaskId(id, text);
    EXPECT_STREQ(text, "00000001000000000000000000000000");

    for (int i = 0; i < 16; ++i) id.bytes[i] = static_cast<unsigned char>(0xF0 + i);
    FormatTaskId(id, text);
    EXPECT_STREQ(text, "f3f2f1f0f7f6f5f4fbfaf9f8fffefdfc");
}

}  // namespace
}  // namespace dlmgr
