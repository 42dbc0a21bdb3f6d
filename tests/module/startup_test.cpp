// Loading the DLL: data folder, data file, header, purge on first mapping,
// the log's settings and the per-thread listing state.
#include <windows.h>

#include <cstring>
#include <thread>

#include "log/log_sink.h"
#include "log/messages.h"
#include "sync/optex_process_share.h"
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

TEST_F(ModuleTest, TableThatIsNotTheDataFileIsSaidToBeUnsavedAndHostsWorkOn) {
    // A folder where dlmgr.dat belongs: the table lives in memory only.
    ::CreateDirectoryA((profile / "Application Data").c_str(), nullptr);
    ::CreateDirectoryA(DataFolder().c_str(), nullptr);
    ASSERT_TRUE(::CreateDirectoryA(DataFile().c_str(), nullptr));
    EXPECT_EQ(Run("ExpectTasks", {"0"}), 0);
    auto messages = ReadLogMessages(DefaultLog());
    char expected[512];
    std::snprintf(expected, sizeof(expected), messages::kTableInMemory, DataFile().c_str(),
                  static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], expected);
    ::RemoveDirectoryA(DataFile().c_str());

    // Another program's section of the page file under the table's name.
    UniqueMapping squatter(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                kStoreBlockSize, kStoreMappingName));
    ASSERT_TRUE(squatter.valid());
    EXPECT_EQ(Run("ExpectTasks", {"0"}), 0);
    squatter.reset();
    messages = ReadLogMessages(DefaultLog());
    std::snprintf(expected, sizeof(expected), messages::kTableNotTheFile, DataFile().c_str(),
                  "in memory");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], expected);
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

TEST_F(ModuleTest, LogSettingNamingTheTablesFileIsRefusedForTheDefaultLog) {
    for (const std::string& named : {DataFile(), DataFolder() + "\\DLMGR.INTENT"}) {
        SetRegistryString(HKEY_CURRENT_USER, kProductKey, kLogFileNameValue, named);
        ASSERT_EQ(Run("Load"), 0);
        const auto store = Store();
        EXPECT_EQ(store->header.magic, kStoreMagic) << "log lines were written into the table";
        char refused[600];
        std::snprintf(refused, sizeof(refused), messages::kLogNamesStoreFile, named.c_str(),
                      DefaultLog().c_str());
        EXPECT_EQ(ReadLogMessages(DefaultLog()).back(), refused);
    }
}

// Before it loads the module, the host finds each lock's per-process block
// already made (as another program that knows its process id could) with
// the values args[0] names, the life handles being the host's own handles;
// then it loads, registers and lists, and its handles must still be open.
DLMGR_CHILD_SCENARIO(ForeignProcessBlock) {
    UniqueEvent own(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    std::vector<UniqueMapping> planted;
    for (const char* lock : {kStoreLockName, kLogLockName}) {
        char name[160];
        std::snprintf(name, sizeof(name), "%s%08lX_%s", OptexProcessShare::kPrefix,
                      ::GetCurrentProcessId(), lock);
        planted.emplace_back(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  sizeof(OptexProcessBlock), name));
        UniqueView view(::MapViewOfFile(planted.back().get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        ASSERT_TRUE(view.valid());
        auto* block = static_cast<OptexProcessBlock*>(view.get());
        const bool garbage = args.at(0) == "garbage";
        block->users = args.at(0) == "unused" ? 0 : garbage ? 1000 : 1;
        block->slotTls = garbage ? 0x7fffff00 : 3;
        block->markerTls = garbage ? 0x7fffff01 : 4;
        for (size_t i = 0; i < kOptexSlotCount; ++i) {
            const HANDLE value = i % 2 ? own.get() : output;
            block->lifeHandles[i] = reinterpret_cast<std::uintptr_t>(value);
        }
    }
    {
        DlmgrLibrary lib;
        ASSERT_TRUE(lib.loaded());
        for (unsigned char id = 1; id <= 4; ++id) Register(lib, MakeTaskRecord(id, DLMGR_STATUS_RUNNING));
        // A registration that waits, behind this thread's listing, claims a
        // record and keeps its life handle where the block's value was.
        Optex store;
        ASSERT_TRUE(store.Init(kStoreLockName, false, kStoreLockSpinCount));
        std::vector<TaskRecord> copied(lib.GetTaskCount(0));
        std::thread waiting([&] { Register(lib, MakeTaskRecord(5, DLMGR_STATUS_RUNNING)); });
        EXPECT_TRUE(WaitUntil([&] { return store.Shared()->lockCount == 2; }));
        EXPECT_EQ(lib.GetTaskInfo(copied.data()), 1);
        waiting.join();
        EXPECT_EQ(ListTasks(lib, 0).size(), 5u);
    }
    DWORD flags = 0;
    EXPECT_TRUE(::GetHandleInformation(own.get(), &flags)) << "the host's event was closed";
    EXPECT_TRUE(::GetHandleInformation(output, &flags)) << "the host's output was closed";
}

TEST_F(ModuleTest, PerProcessBlockMadeByAnotherProgramNeverClosesTheHostsHandles) {
    for (const char* kind : {"unused", "unstamped", "garbage"}) {
        EXPECT_EQ(Run("ForeignProcessBlock", {kind}), 0) << kind;
    }
    // One that no copy of the module could have left (in use, but without
    // this generation's stamp, or with impossible values) is not used: the
    // lock then runs without recovery, and says so.
    EXPECT_EQ(ReadLogMessages(DefaultLog()),
              std::vector<std::string>({messages::kStoreLockNotRobust, messages::kStoreLockNotRobust}));
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

TEST_F(ModuleTest, StuckStoreHolderNeverHangsALoadAndIsNamedOnceToThoseWhoWait) {
    // A holder that never lets go (a stuck or suspended host): a load goes on
    // without the store after a while, leaving the table unchecked and
    // unpurged (the holder may be using it), and says who held it; an export
    // waits, as it must, and the log names the holder once.
    auto block = EmptyStore();
    PutRecord(*block, MakeTaskRecord(1, DLMGR_STATUS_RUNNING));
    PrepareStore(*block);
    Optex lock;
    ASSERT_TRUE(lock.Init(kStoreLockName, false, kStoreLockSpinCount));
    ASSERT_EQ(lock.Enter(), LockResult::kAcquired);
    const std::string name = UniqueName("stuck-store");
    ChildProcess loader = Start("HoldStore", {name});
    ASSERT_TRUE(NamedEvent(name + "-loaded").Await()) << "the load waited on the store for good";
    char started[200];
    std::snprintf(started, sizeof(started), messages::kStartedWithoutStore,
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  static_cast<unsigned long>(::GetCurrentThreadId()));
    EXPECT_EQ(ReadLogMessages(DefaultLog()), std::vector<std::string>({started}));

    ChildProcess lister = Start("ExpectTasks", {"1"});
    const std::string heldText = messages::kStoreHeldLong;
    const std::string held = heldText.substr(0, heldText.find('%'));
    const auto heldLines = [&] {
        int count = 0;
        for (const auto& message : ReadLogMessages(DefaultLog())) {
            count += message.compare(0, held.size(), held) == 0 ? 1 : 0;
        }
        return count;
    };
    EXPECT_TRUE(WaitUntil([&] { return heldLines() > 0; }, 4 * kSignalTimeoutMs));
    lock.Leave();
    EXPECT_EQ(lister.Wait(), 0) << "the start-up without the store purged the table";
    EXPECT_EQ(heldLines(), 1);
    NamedEvent(name + "-release").Signal();
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
