// The levelled log, its line format and the shared file sink.
#include <gtest/gtest.h>

#include <string>

#include "log/assert.h"
#include "log/log.h"
#include "log/log_line.h"
#include "log/messages.h"
#include "tests/support/child_process.h"
#include "tests/support/log_reader.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_sync.h"

namespace dlmgr {
namespace {

using test::ReadLogLines;

constexpr char kLockName[] = "{dlmgr-log-test}";

class LogTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    std::string path = folder / "test.log";

    void SetUp() override { CreateLogSink(path.c_str(), kLockName); }
    void TearDown() override {
        DestroyLogSink();
        SetLogThreshold(8);
    }

    void LogEveryLevel() {
        for (int level : {0, 1, 2, 4, 8}) Log(level, "level %d", level);
    }
    std::vector<std::string> Written() { return test::ReadLogMessages(path); }
};

using Messages = std::vector<std::string>;

TEST_F(LogTest, DefaultThresholdLetsOnlyFailedAssertionsThrough) {
    LogEveryLevel();
    EXPECT_EQ(Written(), Messages({"level 8"}));
}

TEST_F(LogTest, ZeroAndNegativeThresholdsLetEverythingThrough) {
    for (int threshold : {0, -3}) {
        SetLogThreshold(threshold);
        LogEveryLevel();
    }
    const Messages once = {"level 0", "level 1", "level 2", "level 4", "level 8"};
    Messages twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(Written(), twice);
}

TEST_F(LogTest, ArgumentsBelowTheThresholdAreNeverFormatted) {
    SetLogThreshold(4);
    // Formatting this pointer as text would fault.
    Log(2, "%s", reinterpret_cast<const char*>(1));
    EXPECT_TRUE(Written().empty());
}

TEST_F(LogTest, FailedAssertLogsWholeMessageAndThrowsItsFirst255Characters) {
    std::string message(300, 'm');
    message[254] = 'X';
    message[255] = 'Y';
    try {
        Assert(false, message.c_str());
        FAIL() << "Assert(false) returned";
    } catch (const AssertException& e) {
        EXPECT_EQ(std::string(e.message()), message.substr(0, 255));
    }
    EXPECT_EQ(Written(), Messages({message}));
    EXPECT_NO_THROW(Assert(true, "fine"));
}

TEST_F(LogTest, ThresholdAboveEightWritesNothingButAssertStillThrows) {
    SetLogThreshold(9);
    LogEveryLevel();
    EXPECT_THROW(Assert(false, "quiet"), AssertException);
    EXPECT_TRUE(Written().empty());
}

TEST_F(LogTest, EveryLineHasAStampAndEndsWithCrLf) {
    SetLogThreshold(0);
    Log(1, "first");
    Log(1, "second %s", "line");
    const auto lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines) EXPECT_TRUE(test::IsLogStamp(line.stamp)) << line.stamp;
    EXPECT_EQ(lines[1].message, "second line");
}

TEST_F(LogTest, OverlongLineIsCutToTheBufferOnAWholeCharacterAndStillEndsWithCrLf) {
    const std::string longText(3000, 'w');
    Log(8, "%s", longText.c_str());
    std::string content = test::ReadWholeFile(path);
    ASSERT_EQ(content.size(), kLogLineSize);
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
    EXPECT_EQ(content.substr(kLogStampLength, 10), std::string(10, 'w'));

    // One byte, then double-byte characters: the last that fits whole ends a
    // byte before the room does. Both its bytes also look like lead bytes.
    std::string text = "w";
    for (int i = 0; i < 600; ++i) text += "\xd6\xd0";
    test::WriteWholeFile(path, "");
    Log(8, "%s", text.c_str());
    content = test::ReadWholeFile(path);
    constexpr size_t kRoom = kLogLineSize - kLogStampLength - 2;
    ASSERT_EQ(content.size(), kLogLineSize - 1);
    EXPECT_EQ(content.substr(kLogStampLength, kRoom - 1), text.substr(0, kRoom - 1));
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
}

TEST_F(LogTest, ModuleMessagesAreWrittenInCodePage936) {
    Log(8, messages::kProcessAttached);
    const std::string expected = "\xc4\xb3\xbd\xf8\xb3\xcc\xb0\xf3\xb6\xa8\xc1\xcb" "dlmgr.dll";
    EXPECT_EQ(Written(), Messages({expected}));
}

TEST_F(LogTest, WriterThatDiedHoldingTheLogLockGetsALineAndTheLogGoesOn) {
    const std::string tag = test::UniqueName("log-holder");
    test::ChildProcess holder = test::ChildProcess::Start("OptexHoldUntilKilled", {kLockName, tag});
    ASSERT_TRUE(test::NamedEvent(tag + "-in").Await());
    ::TerminateProcess(holder.handle(), 1);
    ::WaitForSingleObject(holder.handle(), test::kSignalTimeoutMs);
    Log(8, "after");
    char takeover[128];
    std::snprintf(takeover, sizeof(takeover), messages::kLogLockTakenOver,
                  ::GetProcessId(holder.handle()), ::GetThreadId(holder.mainThread()));
    EXPECT_EQ(Written(), Messages({takeover, "after"}));
}

TEST_F(LogTest, LiveHolderOfTheLogLockCostsLinesNotWaitsAndTheNextLineCountsThem) {
    const std::string tag = test::UniqueName("log-stuck");
    test::ChildProcess holder = test::ChildProcess::Start("OptexEnterAndHold", {kLockName, tag});
    ASSERT_TRUE(test::NamedEvent(tag + "-in").Await());
    Log(8, "dropped");
    Log(8, "dropped too");
    EXPECT_TRUE(Written().empty());
    test::NamedEvent(tag + "-out").Signal();
    ::WaitForSingleObject(holder.handle(), test::kSignalTimeoutMs);
    Log(8, "after");
    char dropped[128];
    std::snprintf(dropped, sizeof(dropped), messages::kLogLinesDropped, 2ul);
    EXPECT_EQ(Written(), Messages({dropped, "after"}));
}

TEST_F(LogTest, LinesDroppedWhileTheLogLockIsHeldAreCountedWhenTheProcessLetsTheLogGo) {
    const std::string tag = test::UniqueName("log-stuck-at-exit");
    test::ChildProcess holder = test::ChildProcess::Start("OptexEnterAndHold", {kLockName, tag});
    ASSERT_TRUE(test::NamedEvent(tag + "-in").Await());
    Log(8, "dropped");
    DestroyLogSink();
    char dropped[128];
    std::snprintf(dropped, sizeof(dropped), messages::kLogLinesDropped, 1ul);
    EXPECT_EQ(Written(), Messages({dropped}));
    test::NamedEvent(tag + "-out").Signal();
    ::WaitForSingleObject(holder.handle(), test::kSignalTimeoutMs);
}

TEST(LogStamp, UsesEnglishMonthAndTwoDigitFields) {
    SYSTEMTIME time = {};
    time.wYear = 2026;
    time.wMonth = 3;
    time.wDay = 7;
    time.wHour = 8;
    time.wMinute = 5;
    time.wSecond = 9;
    char stamp[kLogStampLength + 1];
    FormatLogStamp(time, stamp);
    EXPECT_STREQ(stamp, "[Mar 07 08:05:09] ");
}

TEST(LogSinks, MissingFolderLosesLinesAndRaisesNothing) {
    test::TempFolder folder;
    const std::string path = folder / "missing\\dlmgr.log";
    for (const char* lock : {kLockName, static_cast<const char*>(nullptr)}) {
        CreateLogSink(path.c_str(), lock);
        EXPECT_NO_THROW(Log(8, "lost"));
        EXPECT_FALSE(test::FileExists(path));
    }
    DestroyLogSink();
}

TEST(LogSinks, PrivateFileSinkAppendsAndNoSinkDropsLines) {
    test::TempFolder folder;
    const std::string path = folder / "private.log";
    test::WriteWholeFile(path, "existing\r\n");
    CreateLogSink(path.c_str(), nullptr);
    Log(8, "appended");
    DestroyLogSink();
    Log(8, "dropped");
    CreateLogSink(nullptr, nullptr);
    Log(8, "nowhere");
    DestroyLogSink();
    const auto lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].message, "appended");
}

// Writes count lines tagged with tag through the shared sink, after a start signal.
DLMGR_CHILD_SCENARIO(LogWriteLines) {
    CreateLogSink(args.at(0).c_str(), kLockName);
    test::NamedEvent start(args.at(2));
    ASSERT_TRUE(start.Await());
    const int count = std::stoi(args.at(3));
    const std::string padding(150, args.at(1)[0]);
    for (int i = 0; i < count; ++i) Log(8, "%s %d %s", args.at(1).c_str(), i, padding.c_str());
    DestroyLogSink();
}

// Two processes, one from each program, write 2000 lines each at once: every
// line must come out whole, each writer's in order.
void ExpectWholeLinesFromTwoWriters(const std::string& programA, const std::string& programB) {
    test::TempFolder folder;
    const std::string path = folder / "shared.log";
    const std::string startName = test::UniqueName("log-start");
    test::NamedEvent start(startName);
    constexpr int kLines = 2000;
    test::ChildProcess a = test::ChildProcess::StartIn(
        programA, "LogWriteLines", {path, "A", startName, std::to_string(kLines)});
    test::ChildProcess b = test::ChildProcess::StartIn(
        programB, "LogWriteLines", {path, "B", startName, std::to_string(kLines)});
    start.Signal();
    ASSERT_EQ(a.Wait(), 0);
    ASSERT_EQ(b.Wait(), 0);

    const auto lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 2u * kLines);
    int next[2] = {0, 0};
    for (const auto& line : lines) {
        ASSERT_TRUE(test::IsLogStamp(line.stamp)) << line.stamp;
        const int writer = line.message[0] == 'A' ? 0 : 1;
        const std::string tag(1, "AB"[writer]);
        const std::string expected =
            tag + " " + std::to_string(next[writer]++) + " " + std::string(150, tag[0]);
        ASSERT_EQ(line.message, expected);
    }
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
}

TEST(LogSinks, TwoProcessesWritingAtOnceProduceWholeLines) {
    ExpectWholeLinesFromTwoWriters(test::TestProgram(false), test::TestProgram(false));
}

TEST(LogSinks, ProcessesOfBothPointerSizesWritingAtOnceProduceWholeLines) {
    DLMGR_REQUIRE_OTHER_BUILD();
    ExpectWholeLinesFromTwoWriters(test::TestProgram(false), test::TestProgram(true));
}

}  // namespace
}  // namespace dlmgr
