// Loading the DLL: data folder, data file, header, purge on first mapping,
// the log's settings and the per-thread listing state.
#include <windows.h>

#include <cstring>

#include "log/messages.h"
#include "sync/optex.h"
#include "settings/settings_names.h"
#include "tests/module/host_calls.h"
#include "tests/module/module_fixture.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_sync.h"

namespace dlmgr::test {
namespace {

using Ids = std::vector<int>;

DLMGR_CHILD_SCENARIO(Load) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded()) << "LoadLibrary failed: " << lib.loadError();
}

DLMGR_CHILD_SCENARIO(LoadIsRefused) {
    DlmgrLibrary lib;
    EXPECT_FALSE(lib.loaded());
}

// Loads, registers tasks of the statuses given after the event name (ids
// 0x60, 0x61, ...), signals "<name>-loaded" and keeps the store mapped
// until "<name>-release".
DLMGR_CHILD_SCENARIO(HoldStore) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    for (size_t i = 1; i < args.size(); ++i) {
        Register(lib, MakeTaskRecord(static_cast<unsigned char>(0x60 + i - 1), std::stoi(args[i])));
    }
    NamedEvent(args[0] + "-loaded").Signal();
    EXPECT_TRUE(NamedEvent(args[0] + "-release").Await());
}

DLMGR_CHILD_SCENARIO(ExpectTasks) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    EXPECT_EQ(ListTasks(lib, 0).size() + ListTasks(lib, 1).size(), std::stoul(args.at(0)));
}

TEST_F(ModuleTest, FirstLoadCreatesTheFoldersAndAnInitialisedFullSizeDataFile) {
    ASSERT_FALSE(FileExists(profile / "Application Data"));
    ASSERT_EQ(Run("Load"), 0);
    EXPECT_EQ(FileSize(DataFile()), 569360);
    const auto store = Store();
    EXPECT_EQ(store->header.magic, 2u);
    EXPECT_EQ(store->header.timeStamp[0], 0u);
    EXPECT_EQ(store->header.timeStamp[1], 0u);
    EXPECT_EQ(store->header.taskCount, 0u);
}

TEST_F(ModuleTest, ShorterExistingFileIsExtendedAndItsHeaderKept) {
    auto block = EmptyStore();
    block->header.timeStamp[0] = 5;
    block->header.timeStamp[1] = 6;
    PrepareStore(*block, 100);
    ASSERT_EQ(Run("Load"), 0);
    EXPECT_EQ(FileSize(DataFile()), 569360);
    const auto store = Store();
    EXPECT_EQ(store->header.magic, 2u);
    EXPECT_EQ(store->header.timeStamp[0], 5u);
    EXPECT_EQ(store->header.timeStamp[1], 6u);
}

TEST_F(ModuleTest, FileWithoutMagicTwoIsTreatedAsEmpty) {
    auto block = EmptyStore();
    for (int i = 0; i < 3; ++i) PutRecord(*block, MakeTaskRecord(i + 1, DLMGR_STATUS_PAUSED));
    block->header.magic = 7;
    block->header.timeStamp[0] = 9;
    block->header.timeStamp[1] = 9;
    PrepareStore(*block);
    ASSERT_EQ(Run("Load"), 0);
    const auto store = Store();
    EXPECT_EQ(store->header.magic, 2u);
    EXPECT_EQ(store->header.taskCount, 0u);
    EXPECT_EQ(store->header.timeStamp[0], 0u);
    EXPECT_EQ(store->header.timeStamp[1], 0u);
}

TEST_F(ModuleTest, CountBeyondTheTableIsReinitialisedAndLogged) {
    auto block = EmptyStore();
    block->header.taskCount = 513;
    block->header.timeStamp[1] = 4;
    PrepareStore(*block);
    ASSERT_EQ(Run("Load"), 0);
    const auto store = Store();
    EXPECT_EQ(store->header.taskCount, 0u);
    EXPECT_EQ(store->header.timeStamp[0], 1u) << "repaired: every host lists again";
    EXPECT_EQ(store->header.timeStamp[1], 1u);
    const auto messages = ReadLogMessages(DefaultLog());
    ASSERT_EQ(messages.size(), 1u) << "only level 8 is written by default";
    char expected[128];
    std::snprintf(expected, sizeof(expected), messages::kBadTaskCount, 513u);
    EXPECT_EQ(messages[0], expected);
}

TEST_F(ModuleTest, FirstMapperKeepsOnlyPausedTasksInTheirOrder) {
    auto block = EmptyStore();
    const int statuses[] = {0, 1, 2, 3, 2};
    for (int i = 0; i < 5; ++i) PutRecord(*block, MakeTaskRecord(i + 1, statuses[i]));
    block->header.timeStamp[0] = 10;
    block->header.timeStamp[1] = 20;
    PrepareStore(*block);
    ASSERT_EQ(Run("Load"), 0);
    const auto store = Store();
    EXPECT_EQ(RecordIds(*store), Ids({3, 5}));
    EXPECT_EQ(store->header.timeStamp[0], 11u);
    EXPECT_EQ(store->header.timeStamp[1], 22u);
    const TaskRecord expected = MakeTaskRecord(5, 2);
    EXPECT_EQ(std::memcmp(&store->records[1], &expected, sizeof(TaskRecord)), 0);
}

TEST_F(ModuleTest, SecondProcessSeesTheFirstOnesTasksAndPurgesNothing) {
    const std::string name = UniqueName("hold-store");
    NamedEvent loaded(name + "-loaded");
    NamedEvent release(name + "-release");
    ChildProcess holder = Start("HoldStore", {name, "0", "1", "3"});
    ASSERT_TRUE(loaded.Await());

    EXPECT_EQ(Run("ExpectTasks", {"3"}), 0);
    EXPECT_EQ(RecordIds(*Store()), Ids({0x60, 0x61, 0x62}));

    release.Signal();
    ASSERT_EQ(holder.Wait(), 0);
    // Nobody maps the store now: the next load purges it.
    EXPECT_EQ(Run("ExpectTasks", {"0"}), 0);
}

TEST_F(ModuleTest, WithoutAUsableDataFileTheStoreLivesWhileMapped) {
    // A file where the data folder should be: neither folder nor data file can be made.
    ::CreateDirectoryA((profile / "Application Data").c_str(), nullptr);
    WriteWholeFile(DataFolder(), "in the way");
    const std::string name = UniqueName("paging-store");
    NamedEvent loaded(name + "-loaded");
    NamedEvent release(name + "-release");
    ChildProcess holder = Start("HoldStore", {name, "0", "2"});
    ASSERT_TRUE(loaded.Await());
    EXPECT_EQ(Run("ExpectTasks", {"2"}), 0);
    release.Signal();
    ASSERT_EQ(holder.Wait(), 0);
    EXPECT_EQ(Run("ExpectTasks", {"0"}), 0) << "nothing outlives the last mapping";
    EXPECT_EQ(ReadWholeFile(DataFolder()), "in the way");
}

// Start-up reads settings that are usually absent; asking to delete an absent
// value made Wine load the COM libraries into every host.
DLMGR_CHILD_SCENARIO(LoadStaysLight) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    for (const char* heavy : {"ole32.dll", "combase.dll", "rpcrt4.dll"}) {
        EXPECT_EQ(::GetModuleHandleA(heavy), nullptr) << heavy << " loaded with the module";
    }
}

// Bytes of the address space that map files or sections.
SIZE_T MappedBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region = {};
    for (const char* at = nullptr;
         ::VirtualQuery(at, &region, sizeof(region)) == sizeof(region);
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_MAPPED) total += region.RegionSize;
    }
    return total;
}

// A host that loads the module on demand and frees it after each use.
DLMGR_CHILD_SCENARIO(LoadAndFreeOften) {
    const std::string path = DlmgrDllPath();
    HMODULE first = ::LoadLibraryA(path.c_str());
    ASSERT_NE(first, nullptr);
    ::FreeLibrary(first);
    const SIZE_T mapped = MappedBytes();
    for (int cycle = 0; cycle < 3000; ++cycle) {
        HMODULE module = ::LoadLibraryA(path.c_str());
        ASSERT_NE(module, nullptr) << "cycle " << cycle;
        ::FreeLibrary(module);
    }
    EXPECT_EQ(MappedBytes(), mapped) << "the cycles left views behind";
    EXPECT_NE(::GetModuleHandleA("dlmgr.dll"), nullptr)
        << "unloaded: a thread between its count and its copy would hold the store with no code";
}

TEST_F(ModuleTest, ThreeThousandLoadsAndFreesInOneHostLeakNothing) {
    EXPECT_EQ(Run("LoadAndFreeOften"), 0);
}

TEST_F(ModuleTest, LoadingWithNoSettingsPullsInNoComLibraries) {
    EXPECT_EQ(Run("LoadStaysLight"), 0);
}

TEST_F(ModuleTest, LogSettingsRedirectTheLogAndLevelZeroShowsStartUp) {
    const std::string log = LogEverything();
    ASSERT_EQ(Run("Load"), 0);
    EXPECT_FALSE(FileExists(DefaultLog()));
    const auto messages = ReadLogMessages(log);
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0], messages::kProcessAttached);
    EXPECT_EQ(messages[1].rfind("tlsIndex = ", 0), 0u) << messages[1];
    char location[600];
    std::snprintf(location, sizeof(location), messages::kDataFileLocation, DataFile().c_str());
    EXPECT_EQ(messages[2], location);
    EXPECT_EQ(messages[3].rfind("hMapping = ", 0), 0u) << messages[3];
    EXPECT_NE(messages[3], "hMapping = 0");
    EXPECT_EQ(messages[4], messages::kNewMapping);
    for (const auto& line : ReadLogLines(log)) EXPECT_TRUE(IsLogStamp(line.stamp));

    ASSERT_EQ(Run("Load"), 0);
    EXPECT_EQ(ReadLogMessages(log).back(), messages::kExistingMapping);
}

TEST_F(ModuleTest, LoadIsRefusedWhenTheStoreCannotBeMapped) {
    // An object of another kind holding the mapping's name makes the mapping fail.
    UniqueEvent squatter(::CreateEventA(nullptr, TRUE, FALSE, kStoreMappingName));
    ASSERT_TRUE(squatter.valid());
    EXPECT_EQ(Run("LoadIsRefused"), 0);
    squatter.reset();
    const auto messages = ReadLogMessages(DefaultLog());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), messages::kMappingFailed);
    EXPECT_EQ(Run("Load"), 0);
}

TEST_F(ModuleTest, StartUpTakesTheStoreBeforeItMapsTheTable) {
    // A process mapping the table before it holds the store could register a
    // task that the first mapper's purge then deletes.
    Optex lock;
    ASSERT_TRUE(lock.Init(kStoreLockName, false, kStoreLockSpinCount));
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);
    ChildProcess loader = Start("Load");
    ASSERT_TRUE(WaitUntil([&] { return lock.Shared()->lockCount == 2; }));
    EXPECT_FALSE(UniqueMapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, kStoreMappingName)).valid())
        << "the table was mapped before the store was taken";
    lock.Leave();
    EXPECT_EQ(loader.Wait(), 0);
}

DWORD WINAPI RunFunction(void* fn) {
    (*static_cast<std::function<void()>*>(fn))();
    return 0;
}

// A thread that existed before the load and one started after it can both
// list; a thread that ends between count and copy gives the store back.
DLMGR_CHILD_SCENARIO(ThreadsList) {
    std::unique_ptr<DlmgrLibrary> lib;
    NamedEvent go(UniqueName("threads-go"));
    std::vector<int> earlyIds;
    auto earlyThread = [&] {
        EXPECT_TRUE(go.Await());
        earlyIds = ListIds(*lib, 1);
    };
    // Started before the DLL is loaded: it never sees a thread attach.
    std::function<void()> early = earlyThread;
    HANDLE earlyHandle = ::CreateThread(nullptr, 0, RunFunction, &early, 0, nullptr);
    ASSERT_NE(earlyHandle, nullptr);
    UniqueThread earlyOwner(earlyHandle);

    lib.reset(new DlmgrLibrary());
    ASSERT_TRUE(lib->loaded());
    Register(*lib, MakeTaskRecord(1, DLMGR_STATUS_PAUSED));
    go.Signal();
    ASSERT_EQ(::WaitForSingleObject(earlyHandle, kSignalTimeoutMs), WAIT_OBJECT_0);
    EXPECT_EQ(earlyIds, Ids({1}));

    std::vector<int> lateIds;
    EXPECT_TRUE(RunOnOtherThread([&] { lateIds = ListIds(*lib, 1); }));
    EXPECT_EQ(lateIds, Ids({1}));

    EXPECT_TRUE(RunOnOtherThread([&] { EXPECT_EQ(lib->GetTaskCount(1), 1u); }));
    EXPECT_TRUE(StoreIsFreeForOthers(*lib)) << "a thread that ended mid-listing kept the store";
}

TEST_F(ModuleTest, ThreadsBeforeAndAfterTheLoadCanListAndAnEndedListerFreesTheStore) {
    EXPECT_EQ(Run("ThreadsList"), 0);
}

}  // namespace
}  // namespace dlmgr::test
