// Task actions: the exact command lines started, the shell's open, the work
// files a deletion removes, and every refusal with its log line. A recorder
// program stands in for the engine, the torrent client and the opener.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "log/messages.h"
#include "settings/settings_names.h"
#include "tests/module/host_calls.h"
#include "tests/module/module_fixture.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_sync.h"

namespace dlmgr::test {
namespace {

constexpr unsigned char kTaskByte = 0xAC;

// A field passed as "hex:" and its bytes in hexadecimal reaches the child as
// those bytes, whatever code page converts the command line.
std::string Hex(const std::string& bytes) {
    std::string text = "hex:";
    char digits[3];
    for (unsigned char byte : bytes) {
        std::snprintf(digits, sizeof(digits), "%02x", byte);
        text += digits;
    }
    return text;
}

std::string Unhex(const std::string& text) {
    if (text.rfind("hex:", 0) != 0) return text;
    std::string bytes;
    for (size_t i = 4; i + 1 < text.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// Registers one task from the arguments (action, kind, status, filePath,
// torrentName, source), runs the action on it and exits kChildTrue or
// kChildFalse with the action's result.
DLMGR_CHILD_SCENARIO(Act) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    TaskRecord record = MakeTaskRecord(kTaskByte, std::stoi(args.at(2)), std::stoi(args.at(1)));
    // Fields are filled to their full width when the text is that long.
    const auto fill = [](char* field, size_t width, std::string text) {
        text = Unhex(text);
        std::memcpy(field, text.c_str(), std::min(text.size() + 1, width));
    };
    fill(record.filePath, sizeof(record.filePath), args.at(3));
    fill(record.torrentName, sizeof(record.torrentName), args.at(4));
    fill(record.source, sizeof(record.source), args.at(5));
    Register(lib, record);
    const std::string& action = args.at(0);
    DlmgrBool result = 0;
    if (action == "open") result = lib.OpenTaskFile(&record.id);
    if (action == "resume") result = lib.ResumeTask(&record.id);
    if (action == "again") result = lib.DownloadAgain(&record.id);
    if (action == "delete") result = lib.DeleteTask(&record.id);
    EXPECT_TRUE(StoreIsFreeForOthers(lib));
    ::ExitProcess(testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed()
                      ? 1
                      : (result ? kChildTrue : kChildFalse));
}

class ActionsTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        ::CreateDirectoryA(engineFolder.c_str(), nullptr);
        ::CreateDirectoryA(installFolder.c_str(), nullptr);
        CopyFileTo(Recorder(), engine);
        CopyFileTo(Recorder(), client);
        SetRegistryString(HKEY_CURRENT_USER, kProductKey, kEngineCommandValue, engine);
        SetInstallFolder(installFolder);
        log = LogEverything();
    }

    static std::string Recorder() { return ExecutableFolder() + "\\recorder.exe"; }
    void SetInstallFolder(const std::string& folder) {
        SetRegistryString(HKEY_LOCAL_MACHINE, kProductKey, nullptr, folder);
    }

    struct Task {
        int kind = DLMGR_KIND_ENGINE;
        int status = DLMGR_STATUS_PAUSED;
        std::string filePath = "C:\\d\\a.zip";
        std::string torrentName = "t";
        std::string source = "x";
    };
    int Act(const std::string& action, const Task& task) {
        return Run("Act", {action, std::to_string(task.kind), std::to_string(task.status),
                           Hex(task.filePath), Hex(task.torrentName), Hex(task.source)});
    }

    // The command lines a recorder copy received, waiting for the first one
    // (the recorder makes its file before it writes the line).
    static std::vector<std::string> Started(const std::string& program) {
        const std::string path = program + ".log";
        WaitUntil([&] { return FileExists(path) && !ReadLogLines(path).empty(); });
        std::vector<std::string> lines;
        for (const auto& line : ReadLogLines(path)) lines.push_back(line.stamp + line.message);
        return lines;
    }
    static bool NothingStarted(const std::string& program) {
        ::Sleep(kQuietPeriodMs);
        return !FileExists(program + ".log");
    }
    // Log lines after start-up and the registration's two lookup lines.
    std::vector<std::string> ActionLog() const {
        auto messages = ReadLogMessages(log);
        const size_t skip = 5 + 2;
        return messages.size() > skip ? std::vector<std::string>(messages.begin() + skip, messages.end())
                                      : std::vector<std::string>();
    }
    static std::string Format(const char* format, const std::string& text) {
        char line[1024];
        std::snprintf(line, sizeof(line), format, text.c_str());
        return line;
    }
    // The action's own lines, preceded by the two lookup lines of the task.
    static std::vector<std::string> Expected(std::vector<std::string> actionLines, int found = 0) {
        char line[256];
        std::vector<std::string> lines;
        std::snprintf(line, sizeof(line), messages::kLookupId, "000000ac00000000000000005a000000");
        lines.push_back(line);
        std::snprintf(line, sizeof(line), messages::kLookupResult, found);
        lines.push_back(line);
        lines.insert(lines.end(), actionLines.begin(), actionLines.end());
        return lines;
    }

    std::string engineFolder = profile / "engine";
    std::string installFolder = profile / "install";
    std::string engine = engineFolder + "\\engine.exe";
    std::string client = installFolder + "\\BTClient.exe";
    std::string log;
};

using Lines = std::vector<std::string>;
const std::string kFile = "C:\\d\\a.zip";

TEST_F(ActionsTest, ResumeOfAPausedEngineTaskStartsTheEngineWithRestore) {
    EXPECT_EQ(Act("resume", Task{}), kChildTrue);
    EXPECT_EQ(Started(engine), Lines({engine + " --restore \"C:\\d\\a.zip.$p4p$\""}));
    EXPECT_EQ(ActionLog(), Expected({Format(messages::kResumeTask, kFile)}));
}

TEST_F(ActionsTest, DownloadAgainOfACompletedEngineTaskStartsTheEngineWithItsSource) {
    Task task;
    task.status = DLMGR_STATUS_COMPLETED;
    EXPECT_EQ(Act("again", task), kChildTrue);
    EXPECT_EQ(Started(engine), Lines({engine + " 188 x better"}));

    task.status = DLMGR_STATUS_STOPPED;
    task.source = "http://host/file?a=1&b=2";
    EXPECT_EQ(Act("again", task), kChildTrue);
    WaitUntil([&] { return Started(engine).size() == 2; });
    EXPECT_EQ(Started(engine).back(), engine + " 188 http://host/file?a=1&b=2 better");
}

// A quotation mark would end a quoted argument early, and a source is not
// quoted at all: such text starts nothing, and the log says why.
TEST_F(ActionsTest, TaskTextThatWouldBendACommandLineStartsNothing) {
    struct Case {
        const char* action;
        Task task;
        int result;
        const char* refusal;
        std::string field;
    };
    Task path, torrent, source, spaced, tabbed, control, again, deleted, fullWidth;
    path.filePath = "C:\\d\\a\" -evil \"x.zip";
    torrent.kind = DLMGR_KIND_TORRENT;
    torrent.torrentName = "t\" -delete \"C:\\x";
    again = torrent;
    again.status = DLMGR_STATUS_COMPLETED;
    deleted = torrent;
    source.status = spaced.status = tabbed.status = control.status = DLMGR_STATUS_STOPPED;
    source.source = "x\"y";
    spaced.source = "x -evil";
    tabbed.source = "x\ty";
    control.source = "x\x01y";
    // All 256 bytes, no terminator: the line shows the name, not the path after it.
    fullWidth.kind = DLMGR_KIND_TORRENT;
    fullWidth.torrentName = "t\"" + std::string(254, 'n');
    const Case cases[] = {
        {"resume", path, kChildFalse, messages::kQuoteInFilePath, path.filePath},
        {"resume", torrent, kChildFalse, messages::kQuoteInTorrentName, torrent.torrentName},
        {"again", again, kChildFalse, messages::kQuoteInTorrentName, torrent.torrentName},
        {"again", source, kChildFalse, messages::kUnsafeSource, source.source},
        {"again", spaced, kChildFalse, messages::kUnsafeSource, spaced.source},
        {"again", tabbed, kChildFalse, messages::kUnsafeSource, "x\\ty"},
        {"again", control, kChildFalse, messages::kUnsafeSource, "x\\x01y"},
        // The user asked for the task to go: it goes, without the client.
        {"resume", fullWidth, kChildFalse, messages::kQuoteInTorrentName, fullWidth.torrentName},
        {"delete", deleted, kChildTrue, messages::kDeleteWithoutClient, torrent.torrentName},
    };
    for (const Case& c : cases) {
        ::DeleteFileA(log.c_str());
        ::DeleteFileA(DataFile().c_str());
        EXPECT_EQ(Act(c.action, c.task), c.result) << c.action << " " << c.field;
        const auto messages = ReadLogMessages(log);
        EXPECT_NE(std::find(messages.begin(), messages.end(), Format(c.refusal, c.field)),
                  messages.end())
            << c.action << " " << c.field;
    }
    EXPECT_EQ(Store()->header.taskCount, 0u) << "the deleted task is gone";
    EXPECT_TRUE(NothingStarted(engine));
    EXPECT_TRUE(NothingStarted(client));
}

// Run twice: under the tests' code page, 1252, and under 936, the code page
// of Chinese Windows (a ctest entry of its own sets the locale Wine takes it
// from, and DLMGR_EXPECT_CODE_PAGE to make sure it did).
TEST_F(ActionsTest, TextEndingInHalfADoubleByteCharacterStartsNothingWhereThatIsALeadByte) {
    char expected[16] = {};
    if (::GetEnvironmentVariableA("DLMGR_EXPECT_CODE_PAGE", expected, sizeof(expected)) > 0) {
        ASSERT_EQ(std::to_string(::GetACP()), expected) << "the locale is missing: ./dev makes it";
    }
    Task again, resume, torrent;
    again.status = DLMGR_STATUS_COMPLETED;
    again.source = "http://h/a\x81";
    if (!::IsDBCSLeadByteEx(CP_ACP, 0x81)) {
        // A character of its own: the engine gets four arguments.
        EXPECT_EQ(Act("again", again), kChildTrue);
        EXPECT_EQ(Started(engine), Lines({engine + " 188 http://h/a\x81 better"}));
        return;
    }
    resume.filePath = "C:\\d\\a\x81";
    torrent.kind = DLMGR_KIND_TORRENT;
    torrent.torrentName = "name\x81";
    // The system would pair 0x81 with the byte after the field.
    const std::tuple<const char*, Task, std::string> refused[] = {
        {"again", again, again.source},
        {"resume", resume, resume.filePath},
        {"resume", torrent, torrent.torrentName}};
    for (const auto& [action, task, field] : refused) {
        ::DeleteFileA(log.c_str());
        EXPECT_EQ(Act(action, task), kChildFalse) << action;
        EXPECT_EQ(ActionLog().back(), Format(messages::kEndsInLeadByte, field)) << action;
    }
    EXPECT_TRUE(NothingStarted(engine));
    EXPECT_TRUE(NothingStarted(client));
}

TEST_F(ActionsTest, CommandsThatWouldBeCutStartNothing) {
    Task longPath;
    longPath.filePath = "C:\\" + std::string(480, 'p') + ".avi";
    EXPECT_EQ(Act("resume", longPath), kChildFalse);
    const std::string cut = (engine + " --restore \"" + longPath.filePath).substr(0, 511);
    EXPECT_EQ(ActionLog().back(), Format(messages::kCommandTooLong, cut));

    SetRegistryString(HKEY_CURRENT_USER, kProductKey, kEngineCommandValue,
                      engine + " --" + std::string(200, 'o'));
    Task longSource;
    longSource.status = DLMGR_STATUS_COMPLETED;
    longSource.source = "http://host/" + std::string(250, 'a') + ".exe";
    EXPECT_EQ(Act("again", longSource), kChildFalse) << "the source or \"better\" would be lost";
    EXPECT_TRUE(NothingStarted(engine));
}

TEST_F(ActionsTest, ProgramsThatCannotBeStartedFailTheAction) {
    const std::string missing = profile / "nothere.exe";
    SetRegistryString(HKEY_CURRENT_USER, kProductKey, kEngineCommandValue, missing);
    Task stopped;
    stopped.status = DLMGR_STATUS_STOPPED;
    EXPECT_EQ(Act("again", stopped), kChildFalse);
    char failed[1024];
    std::snprintf(failed, sizeof(failed), messages::kStartFailed, 2ul,
                  (missing + " 188 x better").c_str());
    EXPECT_EQ(ActionLog().back(), failed);

    // The deletion the user asked for happens; the client's command is only a courtesy.
    ::DeleteFileA(client.c_str());
    Task torrent;
    torrent.kind = DLMGR_KIND_TORRENT;
    ::DeleteFileA(log.c_str());
    EXPECT_EQ(Act("delete", torrent), kChildTrue);
    const auto lines = ActionLog();
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& line) { return line.find("-delete") != std::string::npos; }),
              lines.end());
    EXPECT_EQ(Store()->header.taskCount, 0u);
}

TEST_F(ActionsTest, ControlCharactersOfATaskAreEscapedSoEveryLogLineHasItsStamp) {
    Task forged;
    forged.status = DLMGR_STATUS_COMPLETED;
    forged.filePath = "C:\\d\\a\r\n[Jan 01 00:00:00] forged\x07.zip";
    EXPECT_EQ(Act("open", forged), kChildFalse) << "no such file";
    const std::string shown = "C:\\d\\a\\r\\n[Jan 01 00:00:00] forged\\x07.zip";
    const auto lines = ActionLog();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], Format(messages::kOpenFile, shown));
    // The shell's error number depends on whether it could show its own message.
    EXPECT_EQ(lines[3].rfind(Format(messages::kOpenFailed, shown).substr(0, 20), 0), 0u) << lines[3];
    EXPECT_NE(lines[3].find(shown), std::string::npos) << lines[3];
    for (const auto& line : ReadLogLines(log)) EXPECT_TRUE(IsLogStamp(line.stamp)) << line.message;
}

TEST_F(ActionsTest, EngineWithASpaceIsQuotedOnlyWhenTheWholeValueNamesAFile) {
    const std::string spacedFolder = profile / "eng dir";
    ::CreateDirectoryA(spacedFolder.c_str(), nullptr);
    const std::string spacedEngine = spacedFolder + "\\engine.exe";
    CopyFileTo(Recorder(), spacedEngine);
    // What an unquoted "...\eng dir\engine.exe" would start in its place.
    const std::string hijacker = profile / "eng.exe";
    CopyFileTo(Recorder(), hijacker);
    const std::string restore = " --restore \"C:\\d\\a.zip.$p4p$\"";
    // Only the first names a file as a whole; the others go on verbatim.
    // (An unquoted value with arguments cannot be shown here: Wine quotes the
    // program it finds before the program sees its command line.)
    const std::string quoted = "\"" + spacedEngine + "\"";
    const std::string values[] = {spacedEngine, quoted, quoted + " -x"};
    for (const std::string& value : values) {
        SetRegistryString(HKEY_CURRENT_USER, kProductKey, kEngineCommandValue, value);
        EXPECT_EQ(Act("resume", Task{}), kChildTrue) << value;
    }
    WaitUntil([&] { return Started(spacedEngine).size() == 3; });
    EXPECT_EQ(Started(spacedEngine),
              Lines({quoted + restore, quoted + restore, quoted + " -x" + restore}));
    EXPECT_TRUE(NothingStarted(hijacker));
}

TEST_F(ActionsTest, TorrentTasksStartTheClientWithTheQuotedTorrentFile) {
    Task task;
    task.kind = DLMGR_KIND_TORRENT;
    EXPECT_EQ(Act("resume", task), kChildTrue);
    const std::string withDefaultFolder = client + " \"" + installFolder + "\\Torrents\\t.torrent\"";
    EXPECT_EQ(Started(client), Lines({withDefaultFolder}));

    SetRegistryString(HKEY_CURRENT_USER, kProductKey, kTorrentsDirValue, "D:\\tor");
    task.status = DLMGR_STATUS_COMPLETED;
    EXPECT_EQ(Act("again", task), kChildTrue);
    WaitUntil([&] { return Started(client).size() == 2; });
    EXPECT_EQ(Started(client), Lines({withDefaultFolder, client + " \"D:\\tor\\t.torrent\""}));
}

TEST_F(ActionsTest, InstallationFolderWithASpaceIsQuotedAsAProgramPath) {
    const std::string spaced = profile / "inst dir";
    ::CreateDirectoryA(spaced.c_str(), nullptr);
    const std::string spacedClient = spaced + "\\BTClient.exe";
    CopyFileTo(Recorder(), spacedClient);
    SetInstallFolder(spaced);
    Task task;
    task.kind = DLMGR_KIND_TORRENT;
    EXPECT_EQ(Act("resume", task), kChildTrue);
    EXPECT_EQ(Started(spacedClient),
              Lines({"\"" + spacedClient + "\" \"" + spaced + "\\Torrents\\t.torrent\""}));
}

TEST_F(ActionsTest, TheInstallationFolderIsReadFromTheMachineKeyOnly) {
    SetRegistryString(HKEY_CURRENT_USER, kProductKey, nullptr, "C:\\user-says");
    Task task;
    task.kind = DLMGR_KIND_TORRENT;
    EXPECT_EQ(Act("resume", task), kChildTrue);
    EXPECT_EQ(Started(client).size(), 1u);
}

TEST_F(ActionsTest, MissingSettingsRefuseWithTheirLevelFourLines) {
    DeleteRegistryKey(HKEY_CURRENT_USER, kProductKey);
    log = LogEverything();
    EXPECT_EQ(Act("resume", Task{}), kChildFalse);
    Task completed;
    completed.status = DLMGR_STATUS_COMPLETED;
    EXPECT_EQ(Act("again", completed), kChildFalse);
    EXPECT_TRUE(NothingStarted(engine));

    DeleteRegistryKey(HKEY_LOCAL_MACHINE, kProductKey);
    Task torrent;
    torrent.kind = DLMGR_KIND_TORRENT;
    EXPECT_EQ(Act("resume", torrent), kChildFalse);
    EXPECT_TRUE(NothingStarted(client));

    const auto messages = ReadLogMessages(log);
    auto contains = [&](const std::string& text) {
        return std::find(messages.begin(), messages.end(), text) != messages.end();
    };
    EXPECT_TRUE(contains(messages::kResumeNoEngine));
    EXPECT_TRUE(contains(messages::kAgainNoEngine));
    EXPECT_TRUE(contains(messages::kNoClientName));
}

TEST_F(ActionsTest, InstallationFolderTooLongForTheTorrentPathIsRefusedButNotDeleted) {
    // Fits the client's 511 characters, but not what is left after it.
    const std::string longFolder = "C:\\" + std::string(300, 'l');
    SetInstallFolder(longFolder);
    Task task;
    task.kind = DLMGR_KIND_TORRENT;
    EXPECT_EQ(Act("resume", task), kChildFalse);
    EXPECT_TRUE(RegistryValueExists(HKEY_LOCAL_MACHINE, kProductKey, nullptr));
    const std::string tooLong(messages::kCommandTooLong, std::strlen(messages::kCommandTooLong) - 2);
    EXPECT_EQ(ActionLog().back().rfind(tooLong, 0), 0u) << "refused as a command line cut short";
}

TEST_F(ActionsTest, ActionsRefusedByStatusOrKindLogWhy) {
    Task paused;
    EXPECT_EQ(Act("open", paused), kChildFalse);
    EXPECT_EQ(ActionLog(), Expected({Format(messages::kOpenFile, kFile),
                                     Format(messages::kFileNotCompleted, kFile)}));

    for (int status : {0, 4, 5, 6}) {
        Task running;
        running.status = status;
        ::DeleteFileA(log.c_str());
        ::DeleteFileA(DataFile().c_str());
        EXPECT_EQ(Act("delete", running), kChildFalse) << status;
        EXPECT_EQ(ActionLog(), Expected({Format(messages::kDeleteTask, kFile),
                                         Format(messages::kTaskRunning, kFile)}));
        const auto store = Store();
        EXPECT_EQ(store->header.taskCount, 1u) << status;
        EXPECT_EQ(store->header.timeStamp[0], 1u) << "registration only";
    }

    ::DeleteFileA(log.c_str());
    Task completed;
    completed.status = DLMGR_STATUS_COMPLETED;
    EXPECT_EQ(Act("resume", completed), kChildFalse);
    EXPECT_EQ(ActionLog(), Expected({Format(messages::kResumeTask, kFile),
                                     Format(messages::kCannotResume, kFile)}));

    ::DeleteFileA(log.c_str());
    EXPECT_EQ(Act("again", paused), kChildFalse);
    EXPECT_EQ(ActionLog(), Expected({Format(messages::kDownloadAgain, kFile),
                                     Format(messages::kCannotDownloadAgain, kFile)}));

    Task otherKind;
    otherKind.kind = 2;
    EXPECT_EQ(Act("resume", otherKind), kChildFalse);
    otherKind.status = DLMGR_STATUS_COMPLETED;
    EXPECT_EQ(Act("again", otherKind), kChildFalse);
    EXPECT_TRUE(NothingStarted(engine));
    EXPECT_TRUE(NothingStarted(client));
}

TEST_F(ActionsTest, DeletingAPausedEngineTaskRemovesItsWorkFilesAndRecord) {
    Task task;
    task.filePath = profile / "movie.avi";
    for (const char* suffix : {".$p4p$", ".$fmap$", ".$finfo$"}) {
        WriteWholeFile(task.filePath + suffix, "work");
    }
    WriteWholeFile(task.filePath + ".$other$", "kept");
    EXPECT_EQ(Act("delete", task), kChildTrue);
    for (const char* suffix : {".$p4p$", ".$fmap$", ".$finfo$"}) {
        EXPECT_FALSE(FileExists(task.filePath + suffix)) << suffix;
    }
    EXPECT_TRUE(FileExists(task.filePath + ".$other$"));
    const auto store = Store();
    EXPECT_EQ(store->header.taskCount, 0u);
    EXPECT_EQ(store->header.timeStamp[0], 0u);
    EXPECT_EQ(store->header.timeStamp[1], 2u) << "registered, then removed";
    // The files go once the store is left: a slow network path holds up no host.
    EXPECT_EQ(ActionLog(), Expected({Format(messages::kDeleteTask, task.filePath),
                                     Format(messages::kTaskDeleted, task.filePath),
                                     Format(messages::kDeleteFile, task.filePath + ".$p4p$"),
                                     Format(messages::kDeleteFile, task.filePath + ".$fmap$"),
                                     Format(messages::kDeleteFile, task.filePath + ".$finfo$")}));

    // None of the work files existing is no reason to fail.
    EXPECT_EQ(Act("delete", task), kChildTrue);
}

TEST_F(ActionsTest, WorkFilesOfALongPathAreNamedFromTheWholePath) {
    // Cut to 255 characters, the path would name some other file.
    Task task;
    task.filePath = "C:\\" + std::string(400, 'p') + ".avi";
    EXPECT_EQ(Act("delete", task), kChildTrue);
    const auto lines = ActionLog();
    ASSERT_EQ(lines.size(), 2u + 5u);
    EXPECT_EQ(lines[4], Format(messages::kDeleteFile, task.filePath + ".$p4p$"));
    EXPECT_EQ(lines[6], Format(messages::kDeleteFile, task.filePath + ".$finfo$"));
}

TEST_F(ActionsTest, DeletingACompletedTaskKeepsItsFile) {
    Task task;
    task.status = DLMGR_STATUS_COMPLETED;
    task.filePath = profile / "done.zip";
    WriteWholeFile(task.filePath, "data");
    WriteWholeFile(task.filePath + ".$p4p$", "work");
    EXPECT_EQ(Act("delete", task), kChildTrue);
    EXPECT_TRUE(FileExists(task.filePath));
    EXPECT_TRUE(FileExists(task.filePath + ".$p4p$"));
    EXPECT_EQ(Store()->header.taskCount, 0u);
    EXPECT_TRUE(NothingStarted(engine));
}

// A paused torrent task named "t" with id byte id.
TaskRecord TorrentRecord(unsigned char id) {
    TaskRecord record = MakeTaskRecord(id, DLMGR_STATUS_PAUSED, DLMGR_KIND_TORRENT);
    std::strcpy(record.torrentName, "t");
    return record;
}

// A host's steps, from the arguments: "register ID" (TorrentRecord), "resume
// ID", "delete ID", "keep NAME" (signals NAME-ready, then waits for
// NAME-release). Exits kChildTrue or kChildFalse with the last action's result.
DLMGR_CHILD_SCENARIO(HostSteps) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    DlmgrBool result = 1;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        const std::string& step = args[i];
        if (step == "keep") {
            NamedEvent(args[i + 1] + "-ready").Signal();
            EXPECT_TRUE(NamedEvent(args[i + 1] + "-release").Await());
            continue;
        }
        const TaskRecord record = TorrentRecord(static_cast<unsigned char>(std::stoi(args[i + 1])));
        if (step == "register") result = lib.SetTaskInfo(&record);
        if (step == "resume") result = lib.ResumeTask(&record.id);
        if (step == "delete") result = lib.DeleteTask(&record.id);
    }
    ::ExitProcess(testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed()
                      ? 1
                      : (result ? kChildTrue : kChildFalse));
}

// Hosts of both pointer sizes register, list and act on one table with one
// set of settings (the installation folder comes from the machine key).
TEST_F(ActionsTest, HostsOfBothPointerSizesShareTheTasksAndTheSettings) {
    DLMGR_REQUIRE_OTHER_BUILD();
    const std::string name = UniqueName("both-sizes");
    ChildProcess keeper = Start("HostSteps", {"register", "96", "keep", name}, true);
    ASSERT_TRUE(NamedEvent(name + "-ready").Await());
    const TaskRecord expected = TorrentRecord(96);
    const auto store = Store();
    ASSERT_EQ(store->header.taskCount, 1u);
    EXPECT_EQ(std::memcmp(&store->records[0], &expected, sizeof(expected)), 0)
        << "the other build's record differs from this build's";
    EXPECT_EQ(Run("ExpectTasks", {"1"}), 0);

    const std::string command = "\"" + installFolder + "\\Torrents\\t.torrent\"";
    EXPECT_EQ(RunOther("HostSteps", {"resume", "96"}), kChildTrue);
    EXPECT_EQ(Started(client), Lines({client + " " + command}));
    EXPECT_EQ(Run("HostSteps", {"delete", "96"}), kChildTrue);
    WaitUntil([&] { return Started(client).size() == 2; });
    EXPECT_EQ(Started(client), Lines({client + " " + command, client + " -delete " + command}));
    EXPECT_EQ(RunOther("ExpectTasks", {"0"}), 0);
    NamedEvent(name + "-release").Signal();
    EXPECT_EQ(keeper.Wait(), kChildTrue);
}

TEST_F(ActionsTest, DeletingAPausedTorrentTaskStartsTheClientsDeleteCommand) {
    Task task;
    task.kind = DLMGR_KIND_TORRENT;
    EXPECT_EQ(Act("delete", task), kChildTrue);
    EXPECT_EQ(Started(client),
              Lines({client + " -delete \"" + installFolder + "\\Torrents\\t.torrent\""}));
    EXPECT_EQ(Store()->header.taskCount, 0u);

    DeleteRegistryKey(HKEY_LOCAL_MACHINE, kProductKey);
    ::DeleteFileA((client + ".log").c_str());
    ::DeleteFileA(log.c_str());
    EXPECT_EQ(Act("delete", task), kChildTrue) << "removed even without a client";
    EXPECT_TRUE(NothingStarted(client));
    EXPECT_EQ(Store()->header.taskCount, 0u);
    EXPECT_EQ(ActionLog(), Expected({Format(messages::kDeleteTask, kFile), messages::kNoClientName,
                                     Format(messages::kTaskDeleted, kFile)}));
}

TEST_F(ActionsTest, OpeningACompletedTaskHandsItsFileToTheAssociatedProgram) {
    const std::string opener = profile / "opener.exe";
    CopyFileTo(Recorder(), opener);
    const std::string classes = "Software\\Classes";
    SetSystemRegistryString(HKEY_LOCAL_MACHINE, classes + "\\.dlmgrtest", "dlmgrtest.file");
    SetSystemRegistryString(HKEY_LOCAL_MACHINE, classes + "\\dlmgrtest.file\\shell\\open\\command",
                            "\"" + opener + "\" \"%1\"");
    Task task;
    task.kind = DLMGR_KIND_TORRENT;  // opening does not depend on the kind
    task.status = DLMGR_STATUS_COMPLETED;
    task.filePath = profile / "finished.dlmgrtest";
    WriteWholeFile(task.filePath, "data");
    EXPECT_EQ(Act("open", task), kChildTrue);
    const auto started = Started(opener);
    DeleteSystemRegistryKey(HKEY_LOCAL_MACHINE, classes + "\\.dlmgrtest");
    DeleteSystemRegistryKey(HKEY_LOCAL_MACHINE, classes + "\\dlmgrtest.file");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_NE(started[0].find("finished.dlmgrtest"), std::string::npos) << started[0];
    EXPECT_EQ(ActionLog(), Expected({Format(messages::kOpenFile, task.filePath),
                                     Format(messages::kFileOpened, task.filePath)}));
}

DLMGR_CHILD_SCENARIO(ActOnUnknownId) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    Register(lib, MakeTaskRecord(kTaskByte, DLMGR_STATUS_COMPLETED));
    TaskId unknown = MakeTaskRecord(kTaskByte, 0).id;
    unknown.bytes[8] = 1;
    EXPECT_EQ(lib.OpenTaskFile(&unknown), 0);
    EXPECT_EQ(lib.ResumeTask(&unknown), 0);
    EXPECT_EQ(lib.DownloadAgain(&unknown), 0);
    EXPECT_EQ(lib.DeleteTask(&unknown), 0);
    EXPECT_EQ(lib.OpenTaskFile(nullptr), 0);
    EXPECT_EQ(lib.DeleteTask(nullptr), 0);
    EXPECT_EQ(lib.PauseTask(&unknown), 0);
    const TaskRecord known = MakeTaskRecord(kTaskByte, 0);
    EXPECT_EQ(lib.PauseTask(&known.id), 0);
    EXPECT_EQ(lib.GetLastError(), 0);
    EXPECT_EQ(lib.GetTaskCount(1), 1u);
    EXPECT_EQ(lib.GetTaskInfo(nullptr), 0);
}

TEST_F(ActionsTest, UnknownIdsAreRefusedWithOnlyTheLookupLines) {
    EXPECT_EQ(Run("ActOnUnknownId"), 0);
    char line[256];
    std::snprintf(line, sizeof(line), messages::kLookupId, "000000ac00000000000000015a000000");
    const std::string lookup = line;
    std::snprintf(line, sizeof(line), messages::kLookupResult, -1);
    const std::string notFound = line;
    EXPECT_EQ(ActionLog(), Lines({lookup, notFound, lookup, notFound, lookup, notFound, lookup,
                                  notFound}));
    EXPECT_TRUE(NothingStarted(engine));
}

TEST_F(ActionsTest, EngineThatRegistersAtOnceDoesNotHoldUpTheResumeOrAnyHost) {
    // A real engine is a host too: it may need the store before it is ready
    // for input, which is what starting a program waits for.
    const std::string engineTask = "000000ee000000000000000000000000";
    CopyFileTo(DlmgrDllPath(), engineFolder + "\\dlmgr.dll");
    SetRegistryString(HKEY_CURRENT_USER, kProductKey, kEngineCommandValue,
                      engine + " --register " + engineTask);
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(Act("resume", Task{}), kChildTrue);
    EXPECT_LT(::GetTickCount64() - start, 5000u) << "the resume waited on the started engine";
    EXPECT_EQ(Started(engine), std::vector<std::string>({engine + " --register " +
                                                         engineTask + " --restore \"C:\\d\\a.zip.$p4p$\""}));
    EXPECT_EQ(RecordIds(*Store()), std::vector<int>({kTaskByte, 0xee}));
}

}  // namespace
}  // namespace dlmgr::test
