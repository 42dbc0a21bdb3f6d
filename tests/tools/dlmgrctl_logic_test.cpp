// dlmgrctl's parsing, offline checks and change descriptions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "log/messages.h"
#include "tests/support/store_file.h"
#include "tools/dlmgrctl/log_gloss.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/store_inspection.h"
#include "tools/dlmgrctl/task_changes.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {
namespace {

std::string Bytes(const dlmgr::StoreBlock& block) {
    return std::string(reinterpret_cast<const char*>(&block), sizeof(block));
}

TEST(DlmgrctlText, IdsRoundTripInMemoryOrder) {
    const auto id = ParseTaskId("4200000000000000000000000000000A");
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(id->bytes[0], 0x42) << "memory order, byte 0 first";
    EXPECT_EQ(id->bytes[15], 0x0A);
    EXPECT_EQ(FormatId(*id), "4200000000000000000000000000000a");
    for (const char* bad : {"", "01", "0000000100000000000000000000000g",
                            "0000000100000000000000000000000a0"}) {
        EXPECT_FALSE(ParseTaskId(bad).has_value()) << bad;
    }
}

TEST(DlmgrctlText, StatusesAndKindsByNameOrNumber) {
    EXPECT_EQ(ParseStatus("paused"), 2);
    EXPECT_EQ(ParseStatus("closed"), 7);
    EXPECT_EQ(ParseStatus("12"), 12);
    EXPECT_FALSE(ParseStatus("bogus").has_value());
    EXPECT_FALSE(ParseStatus("3x").has_value());
    EXPECT_FALSE(ParseStatus("4294967298").has_value()) << "beyond an int";
    EXPECT_FALSE(ParseKind("-4294967297").has_value());
    EXPECT_EQ(ParseKind("torrent"), 1);
    EXPECT_EQ(ParseKind("-4"), -4);
    EXPECT_FALSE(ParseKind("").has_value());
    EXPECT_STREQ(StatusName(42), "unknown");
}

TEST(DlmgrctlText, JsonStringsEscapeAndConvertTheCodePageToUtf8) {
    EXPECT_EQ(JsonString("C:\\a \"b\"\n"), "\"C:\\\\a \\\"b\\\"\\n\"");
    EXPECT_EQ(JsonString(std::string("\x01", 1)), "\"\\u0001\"");
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
}

TEST(DlmgrctlOptions, UnknownOptionsMissingValuesAndBadNumbersAreUsageErrors) {
    EXPECT_THROW(Options({"--nope"}, {}, {}), UsageError);
    EXPECT_THROW(Options({"--id"}, {"id"}, {}), UsageError);
    const Options options({"pos", "--count", "x", "--json"}, {"count"}, {"json"});
    EXPECT_TRUE(options.Has("json"));
    EXPECT_EQ(options.positionals(), std::vector<std::string>({"pos"}));
    EXPECT_THROW(options.Number("count", 0, 0, 10), UsageError);
    EXPECT_THROW(options.Require("missing"), UsageError);
    EXPECT_THROW(options.AtMostPositionals(0), UsageError);
}

TEST(DlmgrctlInspection, HealthyStorePassesEveryCheck) {
    auto block = dlmgr::test::EmptyStore();
    dlmgr::test::PutRecord(*block, dlmgr::test::MakeTaskRecord(1, 2));
    // Text fields filled to their width without a terminator are valid.
    TaskRecord fullWidth = dlmgr::test::MakeTaskRecord(2, 1);
    std::memset(fullWidth.filePath, 'p', sizeof(fullWidth.filePath));
    std::memset(fullWidth.torrentName, 't', sizeof(fullWidth.torrentName));
    std::memset(fullWidth.source, 's', sizeof(fullWidth.source));
    dlmgr::test::PutRecord(*block, fullWidth);
    const StoreReport report = InspectStore(Bytes(*block));
    EXPECT_TRUE(report.problems.empty()) << report.problems[0];
    ASSERT_EQ(report.records.size(), 2u);
}

TEST(DlmgrctlInspection, EveryKindOfDamageIsReported) {
    auto block = dlmgr::test::EmptyStore();
    dlmgr::test::PutRecord(*block, dlmgr::test::MakeTaskRecord(1, 9));
    dlmgr::test::PutRecord(*block, dlmgr::test::MakeTaskRecord(1, 2));
    block->header.magic = 3;
    const StoreReport report = InspectStore(Bytes(*block));
    const std::vector<std::string> fragments = {"magic is 3", "status 9", "same id as record 0"};
    ASSERT_EQ(report.problems.size(), fragments.size());
    for (size_t i = 0; i < fragments.size(); ++i) {
        EXPECT_NE(report.problems[i].find(fragments[i]), std::string::npos) << report.problems[i];
    }
}

TEST(DlmgrctlInspection, ShortFilesAndCountsBeyondTheTableAreBoundedNotRead) {
    auto block = dlmgr::test::EmptyStore();
    block->header.taskCount = 900;
    const StoreReport big = InspectStore(Bytes(*block));
    EXPECT_EQ(big.records.size(), 512u);
    EXPECT_NE(big.problems[0].find("above 512"), std::string::npos);

    block->header.taskCount = 3;
    const StoreReport shortFile = InspectStore(Bytes(*block).substr(0, 16 + 1112 + 10));
    EXPECT_EQ(shortFile.records.size(), 1u);
    EXPECT_EQ(shortFile.problems.size(), 2u) << "size and missing records";

    EXPECT_FALSE(InspectStore("abc").problems.empty());

    // A 4 GB file: its first table's worth is read, and its size is the problem.
    block->header.taskCount = 1;
    const StoreReport huge = InspectStore(Bytes(*block), 4294967296LL);
    ASSERT_EQ(huge.problems.size(), 1u);
    EXPECT_EQ(huge.problems[0], "size is 4294967296 bytes, expected 569360");
    EXPECT_EQ(huge.records.size(), 1u);
}

TEST(DlmgrctlChanges, AddedRemovedAndChangedTasksById) {
    const TaskRecord a = dlmgr::test::MakeTaskRecord(1, 0);
    const TaskRecord b = dlmgr::test::MakeTaskRecord(2, 2);
    const TaskRecord aDone = dlmgr::test::MakeTaskRecord(1, 1);
    const TaskRecord c = dlmgr::test::MakeTaskRecord(3, 0);
    const auto changes = DiffTasks({a, b}, {aDone, c});
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(DescribeChange(changes[0]),
              std::string("changed 0100000000000000000000000000005a") +
                  " status 0 running -> 1 completed");
    TaskRecord moved = aDone;
    std::strcpy(moved.filePath, "D:\\x");
    EXPECT_EQ(DescribeChange(DiffTasks({aDone}, {moved})[0]),
              "changed 0100000000000000000000000000005a filePath C:\\downloads\\file1.bin -> D:\\x")
        << "the field that changed is named";
    EXPECT_EQ(changes[1].kind, TaskChange::kRemoved);
    EXPECT_EQ(changes[2].kind, TaskChange::kAdded);
    EXPECT_TRUE(DiffTasks({a, b}, {a, b}).empty());
}

TEST(DlmgrctlText, EveryMessageOfTheModuleHasItsEnglishWithItsValues) {
    char line[256];
    std::snprintf(line, sizeof(line), dlmgr::messages::kStoreLockTakenOver, 12ul, 345ul);
    EXPECT_EQ(EnglishOf(line), "the store lock's holder (process 12, thread 345) has exited: taken over.");
    std::snprintf(line, sizeof(line), dlmgr::messages::kDuplicateRemoved, "a b.", 7u);
    EXPECT_EQ(EnglishOf(line), "removed a duplicate of task a b. (record 7).");
    for (const auto& gloss : dlmgr::messages::kGlosses) {
        const std::string message = gloss.message, english = gloss.english;
        EXPECT_EQ(std::count(message.begin(), message.end(), '%'),
                  std::count(english.begin(), english.end(), '%'))
            << english << ": the same values in the same order";
    }
    EXPECT_EQ(EnglishOf("first \xc4\xe3\xba\xc3"), "") << "unknown lines pass through";
}

TEST(DlmgrctlText, TaskTextCannotDriveTheTerminal) {
    TaskRecord forged = dlmgr::test::MakeTaskRecord(1, 0);
    std::strcpy(forged.filePath, "C:\\a\x1b[2J\x1b[31m\rforged row\n");
    const std::string expected = "C:\\a\\x1b[2J\\x1b[31m\\rforged row\\n";
    EXPECT_EQ(ShownField(forged.filePath, sizeof(forged.filePath)), expected);
    EXPECT_NE(TaskRow(0, forged).find(expected), std::string::npos) << "list and inspect";
    EXPECT_NE(DescribeChange({TaskChange::kAdded, {}, forged}).find(expected), std::string::npos)
        << "watch";
}

}  // namespace
}  // namespace dlmgrctl
