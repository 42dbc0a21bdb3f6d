// dlmgrctl run as a host would be, in processes with this test's profile.
#include <windows.h>

#include "log/messages.h"
#include "settings/settings_names.h"
#include "sync/older_generations.h"
#include "sync/optex.h"
#include "tests/module/host_calls.h"
#include "tests/module/module_fixture.h"
#include "tests/support/lock_blocks.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_sync.h"

namespace dlmgr::test {
namespace {

const std::string kPausedId = "0000000100000000000000000000000a";
const std::string kRunningId = "00000002000000000000000000000000";

class DlmgrctlTest : public ModuleTest {
protected:
    ProgramResult Ctl(const std::vector<std::string>& args) {
        return RunProgram(ExecutableFolder() + "\\dlmgrctl.exe", args, ChildEnvironment());
    }
    ProgramResult Set(const std::string& id, const std::string& status) {
        return Ctl({"set", "--id", id, "--kind", "engine", "--status", status, "--file",
                    "C:\\d\\" + id + ".zip"});
    }
    static bool Contains(const ProgramResult& result, const std::string& text) {
        return result.output.find(text) != std::string::npos;
    }
    // Keeps the store mapped, as a running host would, so that each dlmgrctl
    // process sees what the previous one registered.
    void HoldStore() {
        holder = Start("HoldStore", {holdName});
        ASSERT_TRUE(NamedEvent(holdName + "-loaded").Await());
    }
    void TearDown() override {
        release.Signal();
        if (holder.started()) {
            EXPECT_EQ(holder.Wait(), 0);
        }
        ModuleTest::TearDown();
    }

    std::string holdName = UniqueName("ctl-hold");
    NamedEvent release{holdName + "-release"};
    ChildProcess holder;
};

TEST_F(DlmgrctlTest, RegistersListsAndActsOnTasks) {
    HoldStore();
    ASSERT_EQ(Set(kPausedId, "paused").exitCode, 0);
    ASSERT_EQ(Set(kRunningId, "0").exitCode, 0);

    const auto all = Ctl({"list"});
    EXPECT_EQ(all.exitCode, 0) << all.output;
    EXPECT_TRUE(Contains(all, "change counters: running 1, stopped 1")) << all.output;
    EXPECT_TRUE(Contains(all, "#    id ")) << all.output;
    EXPECT_TRUE(Contains(all, kPausedId + "  engine        2 paused")) << all.output;

    const auto json = Ctl({"list", "running", "--json"});
    EXPECT_EQ(json.output,
              "{\"changeCounters\":{\"running\":1,\"stopped\":1},\"full\":false,\"tasks\":[{\"category\":\"running\","
              "\"index\":0,\"id\":\"" + kRunningId + "\",\"kind\":0,\"kindName\":\"engine\","
              "\"status\":0,\"statusName\":\"running\",\"filePath\":\"C:\\\\d\\\\" + kRunningId +
              ".zip\",\"torrentName\":\"\",\"source\":\"\"}]}\r\n");

    // Refusals say why in the tool's own words, from the record and the settings.
    const auto running = Ctl({"delete", kRunningId});
    EXPECT_EQ(running.exitCode, 1);
    EXPECT_TRUE(Contains(running, "task is running (status 0); a running task cannot be deleted"))
        << running.output;
    const auto noEngine = Ctl({"resume", kPausedId});
    EXPECT_EQ(noEngine.exitCode, 1);
    EXPECT_TRUE(Contains(noEngine, "no DLEngine setting in either key")) << noEngine.output;
    // A path with spaces, unquoted as hosts' settings often are, is named whole.
    const std::string missing = profile / "Engine Folder\\not here.exe";
    SetRegistryString(HKEY_CURRENT_USER, kSettingsKeyPath, kEngineCommandValue, missing);
    const auto notStarted = Ctl({"resume", kPausedId});
    EXPECT_EQ(notStarted.exitCode, 1) << "nothing was started";
    EXPECT_TRUE(Contains(notStarted, "the engine could not be started: the DLEngine setting (" + missing +
                                         ") names no program that exists"))
        << notStarted.output;
    SetRegistryString(HKEY_CURRENT_USER, kSettingsKeyPath, kEngineCommandValue,
                      missing + " " + std::string(400, 'o'));
    EXPECT_TRUE(Contains(Ctl({"resume", kPausedId}), "would be longer than 511 characters"));
    EXPECT_TRUE(Contains(Ctl({"open", kRunningId}), "only a completed task's file can be opened"));
    EXPECT_EQ(Ctl({"delete", kPausedId}).exitCode, 0);
    EXPECT_TRUE(Contains(Ctl({"list", "stopped"}), "stopped tasks: 0"));
}

TEST_F(DlmgrctlTest, BadInputIsRefusedWithExitTwoAndChangesNothing) {
    const auto fresh = Ctl({"inspect"});
    EXPECT_EQ(fresh.exitCode, 2);
    EXPECT_TRUE(Contains(fresh, "no host has run for this user yet")) << fresh.output;
    HoldStore();
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"list", "sideways"},
        {"set", "--id", "12", "--kind", "engine", "--status", "0", "--file", "f"},
        {"set", "--id", kPausedId, "--kind", "engine", "--status", "bogus", "--file", "f"},
        {"set", "--id", kPausedId, "--kind", "engine", "--status", "0", "--file",
         std::string(512, 'f')},
        {"set", "--id", kPausedId, "--kind", "engine", "--status", "0"},
        {"resume", "not-an-id"},
        {"watch", "--interval", "fast"},
        {"inspect", "C:\\no\\such\\file.dat"},
        {"set", "--id", kPausedId, "--kind", "engine", "--status", "9", "--file", "f"},
        {"config", "set", "MaxTaskCount", "many"},
        {"list", "--json=yes"},
        {"list", "--timeout", "soon"},
    };
    for (const auto& args : bad) {
        const auto result = Ctl(args);
        EXPECT_EQ(result.exitCode, 2) << (args.empty() ? "" : args[0]) << ": " << result.output;
        EXPECT_TRUE(Contains(result, "dlmgrctl")) << result.output;
    }
    EXPECT_TRUE(Contains(Ctl({"list"}), "change counters: running 0, stopped 0"));
    const auto unreadable = Ctl({"inspect", "C:\\no\\such\\file.dat"});
    EXPECT_TRUE(Contains(unreadable, "cannot read C:\\no\\such\\file.dat: ")) << unreadable.output;
    EXPECT_TRUE(Contains(unreadable, "(error 3)")) << "the system's reason, with its number";
    EXPECT_FALSE(Contains(unreadable, "--help for usage")) << "the usage was right";
}

TEST_F(DlmgrctlTest, CommandLineFollowsTheUsualConventions) {
    HoldStore();
    const auto version = Ctl({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output.rfind("dlmgrctl ", 0), 0u) << version.output;
    EXPECT_NE(version.output.find(sizeof(void*) == 8 ? "(64-bit)" : "(32-bit)"), std::string::npos)
        << version.output;
    for (const auto& args : std::vector<std::vector<std::string>>{{"-h"}, {"set", "--help"},
                                                                 {"help", "set"}}) {
        const auto help = Ctl(args);
        EXPECT_EQ(help.exitCode, 0) << help.output;
        EXPECT_TRUE(Contains(help, "usage: dlmgrctl")) << help.output;
    }
    EXPECT_TRUE(Contains(Ctl({"lsit"}), "did you mean list?"));
    for (const char* word : {"-v", "version"}) {
        EXPECT_TRUE(Contains(Ctl({word}), "dlmgr.dll 1.")) << word << ": the library's version too";
    }
    for (const auto& args : std::vector<std::vector<std::string>>{{"version", "--json"}, {"version", "extra"}}) {
        EXPECT_EQ(Ctl(args).exitCode, 2) << args[1];
    }
    const auto noTopic = Ctl({"help", "lsit"});
    EXPECT_EQ(noTopic.exitCode, 2);
    EXPECT_TRUE(Contains(noTopic, "did you mean list?")) << noTopic.output;
    EXPECT_TRUE(Contains(noTopic, "(dlmgrctl --help for usage)")) << "a usage error like any other";
    EXPECT_TRUE(Contains(Ctl({"list", "--jsn"}), "unknown option --jsn; did you mean --json?"));
    // Global options go before or after the command.
    EXPECT_EQ(Ctl({"--timeout", "1", "lock"}).exitCode, 0);
    EXPECT_EQ(Ctl({"lock", "--timeout=1"}).exitCode, 0);
    EXPECT_TRUE(Contains(Ctl({"lock", "--json"}), "\"ownerRuns\":null,\"heldForMs\":null"))
        << "nobody holds it";
    EXPECT_TRUE(Contains(Ctl({"config", "get", "maxtaskcount"}), "MaxTaskCount     not set"));
    EXPECT_TRUE(Contains(Ctl({"config"}), "settings from HKEY_CURRENT_USER\\Software\\"));

    EXPECT_EQ(Ctl({"set", "--id=" + kPausedId, "--kind=ENGINE", "--status=Stopped",
                   "--file=C:\\d\\x.zip"}).exitCode, 0);
    EXPECT_TRUE(Contains(Ctl({"list", "stopped"}), "3 stopped"));
    EXPECT_EQ(Ctl({"set", "--id", kRunningId, "--kind", "engine", "--status", "9", "--file",
                   "f", "--any-status"}).exitCode, 0);
    EXPECT_TRUE(Contains(Ctl({"list", "stopped"}), "9 unknown"));
}

TEST_F(DlmgrctlTest, ConfigShowsEachSettingsKeyAndDefaultAndChangesOne) {
    const auto missingEngine = Ctl({"config", "set", "DLEngine", "C:\\e.exe -x"});
    EXPECT_TRUE(Contains(missingEngine, "DLEngine set in the user key"));
    EXPECT_TRUE(Contains(missingEngine, "warning: C:\\e.exe -x names no program that exists"))
        << missingEngine.output;
    EXPECT_FALSE(Contains(Ctl({"config", "set", "DLEngine", "cmd.exe /c exit"}), "warning"));
    Ctl({"config", "set", "DLEngine", "C:\\e.exe -x"});
    EXPECT_EQ(Ctl({"config", "set", "--machine", "MaxTaskCount", "12"}).exitCode, 0);
    EXPECT_TRUE(Contains(Ctl({"config", "set", "DlmgrLogLevel", "0"}),
                         "hosts read it when they load the library"));
    SetRegistryString(HKEY_CURRENT_USER, kSettingsKeyPath, kMaxTaskCountValue, "40");
    // The module reads 255 bytes of TorrentsDir, its terminator included.
    SetRegistryString(HKEY_CURRENT_USER, kSettingsKeyPath, kTorrentsDirValue, std::string(255, 'u'));
    SetRegistryString(HKEY_LOCAL_MACHINE, kSettingsKeyPath, kTorrentsDirValue, std::string(254, 'm'));
    const auto listed = Ctl({"config"});
    EXPECT_TRUE(Contains(listed, "DLEngine         user     C:\\e.exe -x")) << listed.output;
    EXPECT_TRUE(Contains(listed, "MaxTaskCount     machine  12")) << listed.output;
    EXPECT_TRUE(Contains(listed, "ignored, user key: not a 32-bit number")) << listed.output;
    EXPECT_TRUE(Contains(listed, "TorrentsDir      machine  " + std::string(254, 'm'))) << listed.output;
    EXPECT_TRUE(Contains(listed, "ignored, user key: 256 bytes, more than the 255")) << listed.output;
    EXPECT_TRUE(Contains(listed, "when unset: 30")) << listed.output;
    const auto json = Ctl({"config", "--json"});
    EXPECT_TRUE(Contains(json, "{\"name\":\"(default)\",\"from\":\"not set\",\"value\":null,"))
        << json.output;

    EXPECT_EQ(Ctl({"config", "remove", "dlengine"}).exitCode, 0);
    EXPECT_EQ(Ctl({"config", "remove", "DLEngine"}).exitCode, 0) << "already gone is done";
    EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, kSettingsKeyPath, kEngineCommandValue));
    EXPECT_EQ(Ctl({"config", "set", "Nonsense", "1"}).exitCode, 2);
}

TEST_F(DlmgrctlTest, LogIsShownInTheConsolesTextAndFollowed) {
    const std::string path = LogEverything();
    const auto none = Ctl({"log"});
    EXPECT_TRUE(Contains(none, "log: " + path)) << none.output;
    EXPECT_TRUE(Contains(none, "dlmgrctl config set DlmgrLogLevel 0")) << none.output;

    // The library writes GBK; "\xc4\xe3\xba\xc3" is two Han characters. Task
    // text in its messages is the system's code page, as hosts store it, and
    // ids are its four words.
    const auto line = [](const char* format, const char* value) {
        char text[256];
        std::snprintf(text, sizeof(text), format, value);
        return "[Jan 01 00:00:00] " + std::string(text) + "\r\n";
    };
    const std::string path2 = "C:\\caf\xe9.bin";
    AppendToFile(path, "first \xc4\xe3\xba\xc3\r\n[Jan 01 00:00:00] " +
                           std::string(messages::kNewMapping) + "\r\n" +
                           line(messages::kLookupId, "0000004200000000000000005a000000") +
                           line(messages::kOpenFile, path2.c_str()) + "half a li");
    const auto shown = Ctl({"log", "--utf8", "--english"});
    EXPECT_TRUE(Contains(shown, "first \xe4\xbd\xa0\xe5\xa5\xbd\r\n")) << shown.output;
    EXPECT_TRUE(Contains(shown, "  [creating a new memory mapping.]\r\n")) << shown.output;
    EXPECT_TRUE(Contains(shown, "[looking up ID 4200000000000000000000000000005a.]"))
        << "the id as list shows it: " << shown.output;
    wchar_t wide[32] = {};
    char utf8[64] = {};
    ::MultiByteToWideChar(CP_ACP, 0, path2.c_str(), -1, wide, 32);
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof(utf8), nullptr, nullptr);
    EXPECT_TRUE(Contains(shown, std::string("[opening file ") + utf8 + ".]")) << shown.output;
    EXPECT_FALSE(Contains(shown, "half")) << "a line still being written waits";

    // Lines written while it follows are shown; it runs until stopped.
    RunOnOtherThread([path] {
        ::Sleep(1000);
        AppendToFile(path, "ne\r\nlater\r\n");
    }, 0);
    const auto followed = RunProgram(ExecutableFolder() + "\\dlmgrctl.exe", {"log", "--follow"},
                                     ChildEnvironment(), 3000);
    EXPECT_EQ(followed.exitCode, -1);
    EXPECT_TRUE(Contains(followed, "half a line\r\nlater\r\n")) << followed.output;
}

TEST_F(DlmgrctlTest, WaitingForAHeldStoreSaysWhoHoldsItAndGivesUpOnTimeout) {
    ChildProcess lister = Start("HoldListing", {holdName});
    ASSERT_TRUE(NamedEvent(holdName + "-loaded").Await());
    const auto waited = Ctl({"list", "--timeout", "2"});
    EXPECT_EQ(waited.exitCode, 1);
    EXPECT_TRUE(Contains(waited, "waiting for the task store, held by thread")) << waited.output;
    EXPECT_TRUE(Contains(waited, "module_tests.exe")) << waited.output;
    EXPECT_TRUE(Contains(waited, "gave up after 2 s")) << waited.output;
    release.Signal();
    EXPECT_EQ(lister.Wait(), 0);
    EXPECT_TRUE(Contains(Ctl({"list", "--timeout=2"}), "change counters"));
}

TEST_F(DlmgrctlTest, InspectReadsTheFileWithoutLoadingTheModule) {
    auto block = EmptyStore();
    PutRecord(*block, MakeTaskRecord(1, DLMGR_STATUS_RUNNING));
    PutRecord(*block, MakeTaskRecord(1, DLMGR_STATUS_COMPLETED));
    PrepareStore(*block);

    const auto result = Ctl({"inspect"});
    EXPECT_EQ(result.exitCode, 1) << "the duplicate id is a problem";
    EXPECT_TRUE(Contains(result, "same id as record 0")) << result.output;
    EXPECT_TRUE(Contains(result, "task count 2")) << result.output;
    // Loading the module here would have purged both tasks.
    EXPECT_EQ(Store()->header.taskCount, 2u);

    const auto json = Ctl({"inspect", DataFile(), "--json"});
    EXPECT_TRUE(Contains(json, "\"taskCount\":2")) << json.output;

    // A 4 GB file is said to be one, not read through (nor, by list, loaded).
    {
        const UniqueFile file(::CreateFileA(DataFile().c_str(), GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size;
        size.QuadPart = 4294967296LL;
        ASSERT_TRUE(::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get()));
    }
    for (const char* command : {"inspect", "list"}) {
        const auto huge = Ctl({command});
        EXPECT_TRUE(Contains(huge, "size is 4294967296 bytes, expected 569360")) << huge.output;
    }
}

TEST_F(DlmgrctlTest, AFullTableIsCalledFull) {
    auto block = EmptyStore();
    for (std::uint32_t n = 0; n < kMaxTasks; ++n) PutRecord(*block, SealedRecord(n));
    PrepareStore(*block);
    EXPECT_TRUE(Contains(Ctl({"inspect"}), "the table is full (512 tasks)"));
    HoldStore();
    EXPECT_TRUE(Contains(Ctl({"list"}), "the table is full (512 tasks)"));
    const auto refused = Set(kRunningId, "running");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused, "the table is full: 512 tasks, none of them completed")) << refused.output;
}

// The table hosts share is not dlmgr.dat: tasks registered now are lost with
// the last host, and every look says so.
TEST_F(DlmgrctlTest, ATableNotKeptInTheDataFileIsCalledNotSaved) {
    PrepareStore(*EmptyStore());
    {
        // Another program's page-file section under the table's name.
        const UniqueMapping squatter(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                                          0, kStoreBlockSize, kStoreMappingName));
        ASSERT_TRUE(squatter);
        for (const char* command : {"inspect", "lock"}) {
            const auto looked = Ctl({command});
            EXPECT_TRUE(Contains(looked, "not saved: the table hosts share lives in the page file"))
                << looked.output;
            EXPECT_TRUE(Contains(looked, "another program made a section")) << looked.output;
        }
    }
    EXPECT_FALSE(Contains(Ctl({"lock"}), "not saved")) << "once it is gone";
    // A folder in the data file's place: the library keeps the table in the page file.
    ::DeleteFileA(DataFile().c_str());
    ASSERT_TRUE(::CreateDirectoryA(DataFile().c_str(), nullptr));
    HoldStore();
    const auto listed = Ctl({"list"});
    EXPECT_TRUE(Contains(listed, "not saved: ")) << listed.output;
    EXPECT_TRUE(Contains(listed, "(a folder has its name)")) << listed.output;
}

TEST_F(DlmgrctlTest, ReadingCommandsNeverPurgeATableNobodyHasOpen) {
    auto block = EmptyStore();
    PutRecord(*block, MakeTaskRecord(1, DLMGR_STATUS_RUNNING));
    PutRecord(*block, MakeTaskRecord(2, DLMGR_STATUS_COMPLETED));
    PutRecord(*block, MakeTaskRecord(3, DLMGR_STATUS_PAUSED));
    PrepareStore(*block);
    const std::string stored = ReadWholeFile(DataFile());

    const auto listed = Ctl({"list"});
    EXPECT_EQ(listed.exitCode, 0) << listed.output;
    EXPECT_TRUE(Contains(listed, "shown as stored")) << listed.output;
    EXPECT_TRUE(Contains(listed, "running tasks: 1") && Contains(listed, "stopped tasks: 2"))
        << listed.output;
    EXPECT_TRUE(ReadWholeFile(DataFile()) == stored) << "list changed dlmgr.dat";

    // A command that changes the table may load the module, and says what that purged.
    const auto set = Set(kPausedId, "paused");
    EXPECT_EQ(set.exitCode, 0) << set.output;
    EXPECT_TRUE(Contains(set, "2 task(s) that were not paused were dropped")) << set.output;
}

TEST_F(DlmgrctlTest, AMissingOrOtherSizedModuleIsNamedNotCrashedOn) {
    TempFolder alone;
    const std::string ctl = alone / "dlmgrctl.exe";
    CopyFileTo(ExecutableFolder() + "\\dlmgrctl.exe", ctl);
    const std::string bits = sizeof(void*) == 4 ? "32" : "64";
    const std::string sdkFolder = bits == "32" ? "bin\\" : "bin\\x64\\";
    const auto missing = RunProgram(ctl, {"set", "--id", kPausedId, "--kind", "engine", "--status",
                                          "paused", "--file", "C:\\x"}, ChildEnvironment());
    EXPECT_EQ(missing.exitCode, 3) << missing.output;
    EXPECT_TRUE(Contains(missing, "dlmgr.dll (" + bits + "-bit) not found beside dlmgrctl.exe: copy it "
                                  "there from the SDK's " + sdkFolder))
        << missing.output;
    EXPECT_EQ(RunProgram(ctl, {"version"}, ChildEnvironment()).exitCode, 3);
    // While a host has the table open, looking needs no library.
    holder = Start("HoldStore", {holdName, "2"});
    ASSERT_TRUE(NamedEvent(holdName + "-loaded").Await());
    const auto listed = RunProgram(ctl, {"list"}, ChildEnvironment());
    EXPECT_EQ(listed.exitCode, 0) << listed.output;
    EXPECT_TRUE(Contains(listed, "6000000000000000000000000000005a  engine        2 paused")) << listed.output;
    EXPECT_TRUE(Contains(listed, "shown from the shared table without its lock")) << listed.output;

    DLMGR_REQUIRE_OTHER_BUILD();
    const std::string other = TestProgram(true);
    CopyFileTo(other.substr(0, other.find_last_of('\\')) + "\\dlmgr.dll", alone / "dlmgr.dll");
    const std::string otherBits = bits == "32" ? "64" : "32";
    const auto wrong = RunProgram(ctl, {"hold", "--seconds", "0"}, ChildEnvironment());
    EXPECT_EQ(wrong.exitCode, 3) << wrong.output;
    EXPECT_TRUE(Contains(wrong, "dlmgr.dll beside dlmgrctl.exe is " + otherBits +
                                    "-bit; this dlmgrctl.exe is " + bits + "-bit"))
        << wrong.output;
    const auto version = RunProgram(ctl, {"version"}, ChildEnvironment());
    EXPECT_EQ(version.exitCode, 3) << version.output;
    EXPECT_TRUE(Contains(version, "(" + otherBits + "-bit, ")) << version.output;
}

DLMGR_CHILD_SCENARIO(HoldListing) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    lib.GetTaskCount(0);
    NamedEvent(args.at(0) + "-loaded").Signal();
    EXPECT_TRUE(NamedEvent(args.at(0) + "-release").Await());
    TaskRecord spare;
    lib.GetTaskInfo(&spare);
}

// Loads (going on without the store when it is kept long) and lists once,
// waiting for the store as long as it takes.
DLMGR_CHILD_SCENARIO(LoadAndList) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    ListTasks(lib, 0);
}

TEST_F(DlmgrctlTest, LockNamesTheHolderItsWaitersAndTakeoversFromDeadHolders) {
    EXPECT_TRUE(Contains(Ctl({"lock"}), "not in use"));
    ChildProcess lister = Start("HoldListing", {holdName});
    ASSERT_TRUE(NamedEvent(holdName + "-loaded").Await());
    LockBlocks lock(kStoreLockName);  // keeps the lock's blocks for the last look
    ChildProcess waiter = Start("LoadAndList");
    ASSERT_TRUE(WaitUntil([&] { return lock.shared().lockCount == 2; }, 2 * kSignalTimeoutMs));

    const std::string pid = std::to_string(::GetProcessId(lister.handle()));
    const std::string tid = std::to_string(::GetThreadId(lister.mainThread()));
    const auto held = Ctl({"lock"});
    EXPECT_EQ(held.exitCode, 0);
    EXPECT_TRUE(Contains(held, "held by thread " + tid + " of process " + pid + " ")) << held.output;
    EXPECT_TRUE(Contains(held, "module_tests.exe for ")) << held.output;
    EXPECT_TRUE(Contains(held, "1 level(s), 1 waiter(s)")) << held.output;
    const auto json = Ctl({"lock", "--json"});
    EXPECT_TRUE(Contains(json, "\"held\":true,\"ownerThreadId\":" + tid + ",\"ownerProcessId\":" +
                                   pid)) << json.output;
    EXPECT_TRUE(Contains(json, "\"levels\":1,\"waiters\":1,")) << json.output;
    EXPECT_TRUE(Contains(json, "\"usersWithoutRecords\":0,\"generation\":4,\"olderGenerationProcesses\":0,"
                               "\"recoveryMutexKept\":null,\"notSaved\":null}"))
        << json.output;
    {
        // A host of an earlier build opens the lock's block, and nothing else of ours.
        const UniqueMapping earlier(::OpenFileMappingA(
            FILE_MAP_READ, FALSE, (std::string(Optex::kMappingPrefix) + kStoreLockName).c_str()));
        EXPECT_TRUE(Contains(Ctl({"lock"}), "1 handle(s) to the lock without thread records"));
        // Nor is one of a released generation: it keeps records of its own.
        const UniqueMapping side(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                      sizeof(OptexSideBlock),
                                                      (std::string(OlderGenerations::kSidePrefix) + kStoreLockName).c_str()));
        const UniqueView view(::MapViewOfFile(side.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        auto* older = static_cast<OptexSideBlock*>(view.get());
        older->magic = OlderGenerations::kSideMagic;
        const ThreadIdentity me = CurrentThreadIdentity();
        older->slots[0].processId = static_cast<LONG>(me.processId);
        older->slots[0].creationLow = static_cast<LONG>(me.creationTime & 0xFFFFFFFFu);
        older->slots[0].creationHigh = static_cast<LONG>(me.creationTime >> 32);
        older->slots[0].state = kSlotIdle;
        older->slots[0].threadId = static_cast<LONG>(me.threadId);
        EXPECT_TRUE(Contains(Ctl({"lock"}), "beside 1 process(es) of a released generation"));
    }

    {
        // Another program holds the recovery mutex: a dead holder is taken over without it.
        const UniqueMutex recovery(::OpenMutexA(SYNCHRONIZE, FALSE,
                                                (std::string(Optex::kRecoveryPrefix) + kStoreLockName).c_str()));
        ASSERT_TRUE(recovery);
        ASSERT_EQ(::WaitForSingleObject(recovery.get(), 5000), WAIT_OBJECT_0);
        EXPECT_TRUE(Contains(Ctl({"lock"}), "the recovery mutex Dlmgr_Optex4_Recovery_"));
        ::ReleaseMutex(recovery.get());
    }

    ::TerminateProcess(lister.handle(), 1);
    EXPECT_EQ(waiter.Wait(5000), 0) << "the waiting host took the store over";
    const auto after = Ctl({"lock", "--json"});
    EXPECT_TRUE(Contains(after, "\"held\":false")) << after.output;
    EXPECT_TRUE(Contains(after, "\"takeovers\":1,")) << after.output;
}

// dlmgrctl reads the table and the lock that hosts of the other pointer size
// keep; run from each build, both ways round.
TEST_F(DlmgrctlTest, ReadsTheTableAndTheLockOfTheOtherPointerSizesHosts) {
    DLMGR_REQUIRE_OTHER_BUILD();
    holder = Start("HoldStore", {holdName, "2", "7"}, true);
    ASSERT_TRUE(NamedEvent(holdName + "-loaded").Await());
    const auto inspected = Ctl({"inspect"});
    EXPECT_EQ(inspected.exitCode, 0) << inspected.output;
    EXPECT_TRUE(Contains(inspected, "task count 2")) << inspected.output;
    EXPECT_TRUE(Contains(inspected, "file97.bin")) << inspected.output;

    const std::string listName = UniqueName("ctl-list");
    ChildProcess lister = Start("HoldListing", {listName}, true);
    ASSERT_TRUE(NamedEvent(listName + "-loaded").Await());
    const std::string pid = std::to_string(::GetProcessId(lister.handle()));
    const std::string tid = std::to_string(::GetThreadId(lister.mainThread()));
    const auto held = Ctl({"lock", "--json"});
    EXPECT_TRUE(Contains(held, "\"held\":true,\"ownerThreadId\":" + tid + ",\"ownerProcessId\":" +
                                   pid)) << held.output;
    EXPECT_TRUE(Contains(held, "\"usersWithoutRecords\":0,")) << "hosts of both sizes keep records: "
                                                               << held.output;
    EXPECT_TRUE(Contains(Ctl({"lock"}), "module_tests.exe for ")) << "the other size's program";
    NamedEvent(listName + "-release").Signal();
    EXPECT_EQ(lister.Wait(), 0);
}

// Registers task 7 and keeps changing its status every 50 ms until
// "<name>" is signalled, so a watcher started at any moment sees changes.
DLMGR_CHILD_SCENARIO(KeepChangingATask) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    NamedEvent stop(args.at(0));
    TaskRecord record = MakeTaskRecord(7, DLMGR_STATUS_RUNNING);
    for (int i = 0; !stop.WaitFor(50); ++i) {
        record.status = i % 2 ? DLMGR_STATUS_PAUSED : DLMGR_STATUS_RUNNING;
        Register(lib, record);
    }
}

TEST_F(DlmgrctlTest, WatchReportsTheTasksThatChange) {
    HoldStore();
    const std::string stopName = UniqueName("ctl-watch-stop");
    NamedEvent stop(stopName);
    ChildProcess changer = Start("KeepChangingATask", {stopName});
    const auto watched = Ctl({"watch", "--interval", "20", "--count", "2"});
    stop.Signal();
    EXPECT_EQ(changer.Wait(), 0);
    EXPECT_EQ(watched.exitCode, 0);
    EXPECT_TRUE(Contains(watched, "watching ")) << watched.output;
    EXPECT_TRUE(Contains(watched, "counters running ")) << watched.output;
    const std::string id = "0700000000000000000000000000005a";
    EXPECT_TRUE(Contains(watched, "changed " + id) || Contains(watched, "added   " + id))
        << watched.output;
}

}  // namespace
}  // namespace dlmgr::test
