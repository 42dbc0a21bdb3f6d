// A table that a dying host or a stray write leaves damaged is completed and
// checked by the next process that takes the store; no export ever reads or
// writes outside the block.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <random>
#include <set>

#include "log/messages.h"
#include "tests/module/host_calls.h"
#include "settings/settings_names.h"
#include "store/store_intent.h"
#include "tests/module/module_fixture.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_sync.h"

namespace dlmgr::test {
namespace {

constexpr std::uint32_t kInitialTasks = 400;
constexpr std::uint32_t kFirstAdded = 1000;

// The id a churning host deletes in its round k: the oldest task, first of
// the table it found (1 .. kInitialTasks), then of those it added.
std::uint32_t OldestAt(std::uint32_t k) {
    return k < kInitialTasks ? k + 1 : kFirstAdded + (k - kInitialTasks);
}

// What the churning host has reported done: ids kFirstAdded .. + added - 1
// added, ids OldestAt(0 .. deleted - 1) deleted; deleting is ahead of
// deleted while a deletion is under way.
struct ChurnReport {
    volatile LONG added;
    volatile LONG deleting;
    volatile LONG deleted;
};

class Report {
public:
    explicit Report(const std::string& name)
        : mapping_(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(ChurnReport), (name + "-report").c_str())),
          view_(::MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0)) {}
    ChurnReport& operator*() { return *static_cast<ChurnReport*>(view_.get()); }

private:
    UniqueMapping mapping_;
    UniqueView view_;
};

// Adds a new task and deletes the oldest, round after round, each removal
// moving about 400 records, until it is killed.
DLMGR_CHILD_SCENARIO(ChurnTable) {
    Report report(args.at(0));
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    for (std::uint32_t round = 0; round < 100000; ++round) {
        const TaskRecord added = SealedRecord(kFirstAdded + round);
        ASSERT_EQ(lib.SetTaskInfo(&added), 1);
        (*report).added = static_cast<LONG>(round + 1);
        const TaskRecord oldest = SealedRecord(OldestAt(round));
        (*report).deleting = static_cast<LONG>(round + 1);
        ASSERT_EQ(lib.DeleteTask(&oldest.id), 1);
        (*report).deleted = static_cast<LONG>(round + 1);
    }
}

void ExpectValidTable(const StoreBlock& store, std::uint32_t added, std::uint32_t deleted) {
    ASSERT_LE(store.header.taskCount, kMaxTasks);
    std::set<std::uint32_t> ids;
    for (std::uint32_t i = 0; i < store.header.taskCount; ++i) {
        EXPECT_TRUE(IsSealed(store.records[i])) << "torn record at " << i;
        EXPECT_TRUE(ids.insert(IdNumber(store.records[i])).second)
            << "two records with id " << IdNumber(store.records[i]);
    }
    // The changes under way when the host died (adding kFirstAdded + added,
    // deleting OldestAt(deleted)) may or may not be there.
    std::set<std::uint32_t> expected;
    for (std::uint32_t n = 1; n <= kInitialTasks; ++n) expected.insert(n);
    for (std::uint32_t k = 0; k < added; ++k) expected.insert(kFirstAdded + k);
    for (std::uint32_t k = 0; k < deleted; ++k) expected.erase(OldestAt(k));
    for (std::uint32_t n : {kFirstAdded + added, OldestAt(deleted)}) {
        ids.erase(n);
        expected.erase(n);
    }
    EXPECT_EQ(ids, expected) << "a change reported done is missing, or one never made is there";
}

TEST_F(ModuleTest, HostKilledInTheMiddleOfChangesLeavesAValidTable) {
    // Never trims, and is read once per addition: the host's time goes to
    // the removals that a death can cut short.
    SetRegistryDword(HKEY_CURRENT_USER, kProductKey, kMaxTaskCountValue, 1000);
    std::mt19937 random(20261207);
    for (int trial = 0; trial < 10; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        auto block = EmptyStore();
        for (std::uint32_t n = 1; n <= kInitialTasks; ++n) PutRecord(*block, SealedRecord(n));
        PrepareStore(*block);
        const std::string name = UniqueName("churn-" + std::to_string(trial));
        // Every other trial another host keeps the table mapped: the next
        // host then takes the store over instead of mapping the table first.
        ChildProcess keeper;
        if (trial % 2 == 1) {
            keeper = Start("HoldStore", {name + "-keeper"});
            ASSERT_TRUE(NamedEvent(name + "-keeper-loaded").Await());
        }
        Report report(name);
        ChildProcess churner = Start("ChurnTable", {name});
        ASSERT_TRUE(WaitUntil([&] { return (*report).added > 0; }));
        // Deaths should cut removals short, where damage is possible: the host
        // is frozen at random moments and killed once it is frozen inside one.
        ::Sleep(std::uniform_int_distribution<DWORD>(0, 30)(random));
        for (int attempt = 0; attempt < 1000; ++attempt) {
            ::SuspendThread(churner.mainThread());
            CONTEXT context = {};
            context.ContextFlags = CONTEXT_CONTROL;
            ::GetThreadContext(churner.mainThread(), &context);  // returns once it has stopped
            if ((*report).deleting != (*report).deleted) break;
            ::ResumeThread(churner.mainThread());
            ::Sleep(std::uniform_int_distribution<DWORD>(0, 1)(random));
        }
        ::TerminateProcess(churner.handle(), 1);
        ::WaitForSingleObject(churner.handle(), kSignalTimeoutMs);
        const auto added = static_cast<std::uint32_t>((*report).added);
        const auto deleted = static_cast<std::uint32_t>((*report).deleted);

        EXPECT_EQ(Run("Load"), 0);
        if (keeper.started()) {
            NamedEvent(name + "-keeper-release").Signal();
            EXPECT_EQ(keeper.Wait(), 0);
        }
        ExpectValidTable(*Store(), added, deleted);
    }
}

TEST_F(ModuleTest, InterruptedRemovalIsNotReplayedOntoATableChangedSince) {
    // The intent of a removal cut short, beside a table that a host of an
    // earlier build (which keeps no intent) went on changing: five tasks.
    auto block = EmptyStore();
    for (std::uint32_t n = 1; n <= 5; ++n) PutRecord(*block, SealedRecord(n));
    PrepareStore(*block);
    StoreIntent intent{};
    intent.magic = kIntentMagic;
    intent.operation = kIntentRemove;
    intent.taskCount = 3;
    intent.tied = kIntentChecked;
    WriteWholeFile(DataFolder() + "\\dlmgr.intent",
                   std::string(reinterpret_cast<const char*>(&intent), sizeof(intent)));

    EXPECT_EQ(Run("Load"), 0);
    const auto store = Store();
    ASSERT_EQ(store->header.taskCount, 5u) << "a removal replayed over tasks never deleted";
    for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(IdNumber(store->records[i]), i + 1);
}

// Writes each bad count into the live table before each export.
DLMGR_CHILD_SCENARIO(ExportsFaceABadCount) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    UniqueMapping mapping(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kStoreMappingName));
    UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_TRUE(view.valid());
    StoreHeader& header = static_cast<StoreBlock*>(view.get())->header;
    const TaskRecord task = MakeTaskRecord(1, DLMGR_STATUS_COMPLETED);
    // (A poll reads one counter of the header and takes no store.)
    const std::function<void()> exports[] = {
        [&] { ListTasks(lib, 1); },
        [&] { lib.SetTaskInfo(&task); },
        [&] { lib.OpenTaskFile(&task.id); },
        [&] { lib.ResumeTask(&task.id); },
        [&] { lib.DownloadAgain(&task.id); },
        [&] { lib.DeleteTask(&task.id); },
    };
    for (std::uint32_t bad : {513u, 1000u, 0xFFFFFFFFu}) {
        for (const auto& call : exports) {
            header.taskCount = bad;
            call();
            EXPECT_LE(header.taskCount, kMaxTasks) << "count " << bad << " kept";
        }
    }
}

TEST_F(ModuleTest, CountBeyondTheTableWrittenWhileHostsRunFaultsNoExportAndIsRepaired) {
    ASSERT_EQ(Run("ExportsFaceABadCount"), 0);
    char expected[128];
    std::snprintf(expected, sizeof(expected), messages::kBadTaskCount, 0xFFFFFFFFu);
    const auto logged = ReadLogMessages(DefaultLog());
    EXPECT_EQ(std::count(logged.begin(), logged.end(), std::string(expected)), 6)
        << "one level-8 line per repair";
}

}  // namespace
}  // namespace dlmgr::test
