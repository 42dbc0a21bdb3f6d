// The benchmark. Figures that are compared are measured side by side, taking
// turns in every repetition (see side_by_side.h); each target of the
// performance work is printed beside its figure. It runs its hosts with a
// private profile, and refuses to run while any host has the task table open,
// since the table's mapping name is shared by every process on the machine.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "store/task_store.h"
#include "sync/optex.h"
#include "tests/support/legacy_optex.h"
#include "tools/bench/bench_processes.h"
#include "tools/bench/bench_report.h"
#include "tools/bench/side_by_side.h"
#include "win/unique_resource.h"

namespace bench {

namespace {

constexpr int kRepetitions = 9;

std::string Unique(const std::string& base) {
    return base + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(::GetTickCount());
}

void MeasureLocks(Report& report) {
    const std::string suffix = std::to_string(::GetCurrentProcessId());
    dlmgr::Optex optex;
    optex.Init(("dlmgr-bench-optex-" + suffix).c_str(), false, 4000);
    dlmgr::test::LegacyOptex earlier;
    earlier.Init("dlmgr-bench-earlier-" + suffix);
    CRITICAL_SECTION section;
    ::InitializeCriticalSectionAndSpinCount(&section, 4000);
    SRWLOCK srw = SRWLOCK_INIT;
    dlmgr::UniqueMutex mutex(::CreateMutexA(nullptr, FALSE, ("dlmgr-bench-mutex-" + suffix).c_str()));
    volatile LONG shared = 0;
    auto optexPair = [&] { optex.Enter(); shared = shared + 1; optex.Leave(); };
    auto earlierPair = [&] { earlier.Enter(); shared = shared + 1; earlier.Leave(); };
    auto sectionPair = [&] { ::EnterCriticalSection(&section); shared = shared + 1; ::LeaveCriticalSection(&section); };
    auto srwPair = [&] { ::AcquireSRWLockExclusive(&srw); shared = shared + 1; ::ReleaseSRWLockExclusive(&srw); };
    auto mutexPair = [&] { ::WaitForSingleObject(mutex.get(), INFINITE); shared = shared + 1; ::ReleaseMutex(mutex.get()); };

    SideBySide s({"Optex", "the earlier build's lock", "critical section", "SRW lock", "named mutex"});
    for (int r = 0; r < kRepetitions; ++r) {
        s.Add(0, NanosecondsPerCall(optexPair, 200000));
        s.Add(1, NanosecondsPerCall(earlierPair, 200000));
        s.Add(2, NanosecondsPerCall(sectionPair, 200000));
        s.Add(3, NanosecondsPerCall(srwPair, 200000));
        s.Add(4, NanosecondsPerCall(mutexPair, 2000));
    }
    report.Section("Uncontended enter + leave");
    for (size_t i = 0; i < s.size(); ++i) report.Figure(s[i].name, "ns", s.Figure(i));
    report.Ratio("Optex / the earlier build's lock", s.Ratio(0, 1), 1.2);
    report.Ratio("Optex / critical section", s.Ratio(0, 2));
    report.Ratio("named mutex / Optex", s.Ratio(4, 0));
    ::DeleteCriticalSection(&section);
}

// A plain read of a word, through a call as a host would make one.
__attribute__((noinline)) std::uint32_t ReadWord(const volatile std::uint32_t* word) { return *word; }

void MeasureTimeStamp(Report& report, const Exports& dll) {
    CRITICAL_SECTION section;
    ::InitializeCriticalSectionAndSpinCount(&section, 4000);
    dlmgr::UniqueMapping mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, dlmgr::kStoreMappingName));
    dlmgr::UniqueView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
    if (!view) return;
    const volatile std::uint32_t* counter =
        &static_cast<const dlmgr::StoreBlock*>(view.get())->header.timeStamp[0];
    volatile LONG shared = 0;
    auto poll = [&] { shared = shared + static_cast<LONG>(dll.GetTimeStamp(0)); };
    auto sectionPair = [&] { ::EnterCriticalSection(&section); shared = shared + 1; ::LeaveCriticalSection(&section); };
    auto plainRead = [&] { shared = shared + static_cast<LONG>(*counter); };
    std::uint32_t (*volatile readThroughCall)(const volatile std::uint32_t*) = ReadWord;
    auto calledRead = [&] { shared = shared + static_cast<LONG>(readThroughCall(counter)); };
    SideBySide s({"DM_GetTimeStamp", "critical section enter + leave",
                  "a plain read of the mapped word", "the same read through a call"});
    for (int r = 0; r < kRepetitions; ++r) {
        s.Add(0, NanosecondsPerCall(poll, 200000));
        s.Add(1, NanosecondsPerCall(sectionPair, 200000));
        s.Add(2, NanosecondsPerCall(plainRead, 200000));
        s.Add(3, NanosecondsPerCall(calledRead, 200000));
    }
    report.Section("Polling the change counter");
    for (size_t i = 0; i < s.size(); ++i) report.Figure(s[i].name, "ns", s.Figure(i));
    report.Ratio("DM_GetTimeStamp / critical section", s.Ratio(0, 1), 0.5);
    report.Ratio("DM_GetTimeStamp / plain read", s.Ratio(0, 2));
    report.Ratio("DM_GetTimeStamp / the read through a call", s.Ratio(0, 3), 2.0);
    ::DeleteCriticalSection(&section);

    // Another host holds the store between its count and its copy for 2 s:
    // a poll every millisecond meanwhile is timed on its own.
    const std::string name = Unique("dlmgr-bench-poll-holder");
    Child holder = Child::Start({"hold", name});
    if (!Event(name + "-held").Wait()) return;
    std::vector<double> latencies;
    const LARGE_INTEGER start = Now();
    while (Seconds(start, Now()) < 2.0) {
        const LARGE_INTEGER before = Now();
        shared = shared + static_cast<LONG>(dll.GetTimeStamp(0));
        latencies.push_back(1e6 * Seconds(before, Now()));
        ::Sleep(1);
    }
    holder.Kill();
    const Spread latency = SpreadOf(latencies);
    report.Section("Polling while another host holds the store for 2 s");
    report.Figure("a poll, at the median", "us", {latency.median, latency.median, latency.median}, 1.0);
    report.Figure("a poll, at the most", "us", {latency.high, latency.high, latency.high}, 1.0);
}

// Fills the table with stopped tasks 1..count (it holds 1..added).
void FillTo(const Exports& dll, unsigned& added, unsigned count) {
    for (; added < count; ) {
        const TaskRecord record = BenchTask(++added, DLMGR_STATUS_STOPPED);
        dll.SetTaskInfo(&record);
    }
}

void EmptyTable(const Exports& dll, unsigned& added) {
    for (; added > 0; --added) {
        const TaskRecord record = BenchTask(added, DLMGR_STATUS_STOPPED);
        dll.DeleteTask(&record.id);
    }
}

void MeasureListing(Report& report, const Exports& dll, unsigned& added) {
    std::vector<TaskRecord> copied(dlmgr::kMaxTasks), source(dlmgr::kMaxTasks);
    report.Section("Listing the stopped tasks (count + copy) beside memcpy of the same bytes");
    for (unsigned count : {0u, 64u, 256u, 512u}) {
        FillTo(dll, added, count);
        auto list = [&] {
            dll.GetTaskCount(DLMGR_CATEGORY_STOPPED);
            dll.GetTaskInfo(copied.data());
        };
        auto copy = [&] { std::memcpy(copied.data(), source.data(), count * sizeof(TaskRecord)); };
        const int calls = count == 0 ? 20000 : static_cast<int>(100000 / count);
        SideBySide s({"listing", "memcpy"});
        for (int r = 0; r < kRepetitions; ++r) {
            s.Add(0, NanosecondsPerCall(list, calls));
            s.Add(1, NanosecondsPerCall(copy, calls));
        }
        const std::string at = std::to_string(count) + " records";
        report.Figure("listing, " + at, "us", Scaled(s.Figure(0), 1e-3));
        report.Figure("memcpy, " + at, "us", Scaled(s.Figure(1), 1e-3));
        if (count > 0) report.Ratio("listing / memcpy, " + at, s.Ratio(0, 1), count == 512 ? 1.3 : 0);
    }
}

void MeasureRegistration(Report& report, const Exports& dll, unsigned& added) {
    EmptyTable(dll, added);
    report.Section("DM_SetTaskInfo (MaxTaskCount set nowhere: two registry reads per addition)");
    for (unsigned count : {0u, 256u, 511u}) {
        FillTo(dll, added, count == 0 ? 1 : count);
        TaskRecord last = BenchTask(added, DLMGR_STATUS_STOPPED);
        auto update = [&] { dll.SetTaskInfo(&last); };
        if (count == 0) EmptyTable(dll, added);
        SideBySide s({"add", "update"});
        for (int r = 0; r < kRepetitions; ++r) {
            double total = 0;
            constexpr int kAdds = 20;
            for (int i = 0; i < kAdds; ++i) {
                const TaskRecord fresh = BenchTask(100000 + i, DLMGR_STATUS_STOPPED);
                const LARGE_INTEGER start = Now();
                dll.SetTaskInfo(&fresh);
                total += Seconds(start, Now());
                dll.DeleteTask(&fresh.id);
            }
            s.Add(0, 1e9 * total / kAdds);
            if (count == 0) FillTo(dll, added, 1);
            s.Add(1, NanosecondsPerCall(update, 200));
            if (count == 0) EmptyTable(dll, added);
        }
        report.Figure("add to a table of " + std::to_string(count), "us", Scaled(s.Figure(0), 1e-3));
        report.Figure("update the last of " + std::to_string(count == 0 ? 1 : count), "us",
                      Scaled(s.Figure(1), 1e-3));
    }
    EmptyTable(dll, added);
}

// Two processes, loaded and ready before the clock starts, each make
// iterations changes; nanoseconds per change.
double ContendOnce(const std::string& mode, int iterations) {
    const std::string name = Unique("dlmgr-bench-contend");
    Event go(name + "-go");
    Event ready[2] = {Event(name + "-ready-0"), Event(name + "-ready-1")};
    Child children[2] = {Child::Start({"contend", mode, name, std::to_string(iterations), "0"}),
                         Child::Start({"contend", mode, name, std::to_string(iterations), "1"})};
    if (!ready[0].Wait() || !ready[1].Wait()) return NAN;
    const LARGE_INTEGER start = Now();
    go.Signal();
    if (!children[0].Wait() || !children[1].Wait()) return NAN;
    return 1e9 * Seconds(start, Now()) / (2.0 * iterations);
}

void MeasureContention(Report& report) {
    // Each loop runs long (tens of milliseconds) beside the other, so that
    // the two processes overlap for nearly all of it.
    SideBySide s({"the store (DM_SetTaskInfo)", "a named mutex over shared memory"});
    for (int r = 0; r < 7; ++r) {
        s.Add(0, ContendOnce("store", 100000));
        s.Add(1, ContendOnce("mutex", 2000));
    }
    report.Section("Two processes changing a record each, at once");
    for (size_t i = 0; i < s.size(); ++i) report.Figure(s[i].name, "us", Scaled(s.Figure(i), 1e-3));
    report.Ratio("the store / a named mutex", s.Ratio(0, 1));
}

struct HandOver {
    dlmgr::Optex* lock;
    int iterations;
    volatile LONG* shared;
};

DWORD WINAPI TakeTurns(void* parameter) {
    auto* turn = static_cast<HandOver*>(parameter);
    for (int i = 0; i < turn->iterations; ++i) {
        turn->lock->Enter();
        // Held long enough that the other thread's attempt fails and waits.
        for (int k = 0; k < 500; ++k) *turn->shared = *turn->shared + 1;
        turn->lock->Leave();
    }
    return 0;
}

// Two threads, each with its instance of a lock that does not spin, take it
// in turns: an entry that finds it held waits on the event, and the release
// sets it (with lives watched, the wait also watches the holder's life and
// the release asks about the waiter's).
double HandOverMicroseconds(bool watch) {
    const std::string name = Unique(watch ? "dlmgr-bench-turns-w" : "dlmgr-bench-turns-s");
    dlmgr::Optex first;
    dlmgr::Optex second;
    if (!first.Init(name.c_str(), false, 0) || !second.Init(name.c_str(), false, 0)) return NAN;
    first.SetLifeWatch(watch);
    second.SetLifeWatch(watch);
    volatile LONG shared = 0;
    constexpr int kIterations = 3000;
    HandOver turns[2] = {{&first, kIterations, &shared}, {&second, kIterations, &shared}};
    const LARGE_INTEGER start = Now();
    dlmgr::UniqueThread a(::CreateThread(nullptr, 0, TakeTurns, &turns[0], 0, nullptr));
    dlmgr::UniqueThread b(::CreateThread(nullptr, 0, TakeTurns, &turns[1], 0, nullptr));
    const HANDLE both[2] = {a.get(), b.get()};
    if (::WaitForMultipleObjects(2, both, TRUE, 60000) != WAIT_OBJECT_0) return NAN;
    return 1e6 * Seconds(start, Now()) / (2 * kIterations);
}

void MeasureHandOver(Report& report) {
    SideBySide s({"lives watched", "by the slices alone"});
    for (int r = 0; r < 7; ++r) {
        s.Add(0, HandOverMicroseconds(true));
        s.Add(1, HandOverMicroseconds(false));
    }
    report.Section("Two threads taking a lock in turns, without spinning (per entry)");
    for (size_t i = 0; i < s.size(); ++i) report.Figure(s[i].name, "us", s.Figure(i));
    report.Ratio("lives watched / by the slices alone", s.Ratio(0, 1));
}

// Until the lock's count shows a waiter beside its holder (5 s at most).
void AwaitWaiter(const dlmgr::OptexShared& lock) {
    for (int i = 0; i < 5000 && lock.lockCount < 2; ++i) ::Sleep(1);
}

// Milliseconds from `death` until the free lock's count reads zero again,
// entering once each millisecond meanwhile.
double UntilFree(const dlmgr::OptexShared& lock, LARGE_INTEGER death, const std::function<void()>& enterOnce) {
    for (int i = 0; i < 5000; ++i) {
        if (lock.lockCount == 0) return 1e3 * Seconds(death, Now());
        ::Sleep(1);
        enterOnce();
    }
    return NAN;
}

// Takes the store once: a count, and a copy into no buffer.
void EnterStoreOnce(const Exports& dll) {
    dll.GetTaskCount(0);
    dll.GetTaskInfo(nullptr);
}

// A thread of ours that enters once, and when it got in.
struct Entrant {
    std::function<void()> enterOnce;
    LARGE_INTEGER done;
};

DWORD WINAPI EnterOnce(void* parameter) {
    auto* entrant = static_cast<Entrant*>(parameter);
    entrant->enterOnce();
    entrant->done = Now();
    return 0;
}

// Milliseconds from killing `holder`, which holds `lock`, to the entry of a
// thread of ours that waits for it.
double HolderDeathToEntry(Child& holder, const dlmgr::OptexShared& lock, std::function<void()> enterOnce) {
    Entrant entrant = {std::move(enterOnce), {}};
    dlmgr::UniqueThread thread(::CreateThread(nullptr, 0, EnterOnce, &entrant, 0, nullptr));
    AwaitWaiter(lock);
    ::Sleep(200);  // well into its wait by now
    const LARGE_INTEGER death = Now();
    holder.Kill();
    if (::WaitForSingleObject(thread.get(), 10000) != WAIT_OBJECT_0) return NAN;
    return 1e3 * Seconds(death, entrant.done);
}

double StoreHolderDeathToEntry(const Exports& dll, const dlmgr::OptexShared& lock) {
    const std::string name = Unique("dlmgr-bench-holder");
    Child holder = Child::Start({"hold", name});
    if (!Event(name + "-held").Wait()) return NAN;
    return HolderDeathToEntry(holder, lock, [&dll] { EnterStoreOnce(dll); });
}

// Milliseconds from killing a host that waits for the store (while we hold
// it) to the free lock being taken by its compare-exchange alone again.
double WaiterDeathToFastPath(const Exports& dll, const dlmgr::OptexShared& lock) {
    const std::string name = Unique("dlmgr-bench-waiter");
    Child waiter = Child::Start({"wait", name});
    if (!Event(name + "-loaded").Wait()) return NAN;
    // The contention hosts left their running tasks: the copy takes as many
    // records as the count said.
    std::vector<TaskRecord> listed(dll.GetTaskCount(0) + 1);
    Event(name + "-go").Signal();
    AwaitWaiter(lock);
    const LARGE_INTEGER death = Now();
    waiter.Kill();
    dll.GetTaskInfo(listed.data());
    return UntilFree(lock, death, [&dll] { EnterStoreOnce(dll); });
}

// The same two recoveries for a lock of our own, with the watch of lives or
// without it (deaths found by the slices and stale records alone).
double LockHolderDeathToEntry(bool watch) {
    const std::string name = Unique(watch ? "dlmgr-bench-lock-holder-w" : "dlmgr-bench-lock-holder-s");
    Child holder = Child::Start({"hold-lock", name});
    if (!Event(name + "-held").Wait()) return NAN;
    dlmgr::Optex lock;
    if (!lock.Init(name.c_str(), false, 4000)) return NAN;
    lock.SetLifeWatch(watch);
    return HolderDeathToEntry(holder, *lock.Shared(), [&lock] {
        lock.Enter();
        lock.Leave();
    });
}

double LockWaiterDeathToFastPath(bool watch) {
    const std::string name = Unique(watch ? "dlmgr-bench-lock-waiter-w" : "dlmgr-bench-lock-waiter-s");
    dlmgr::Optex lock;
    if (!lock.Init(name.c_str(), false, 4000)) return NAN;
    lock.SetLifeWatch(watch);
    lock.Enter();
    Child waiter = Child::Start({"wait-lock", name});
    AwaitWaiter(*lock.Shared());
    ::Sleep(200);
    const LARGE_INTEGER death = Now();
    waiter.Kill();
    lock.Leave();
    return UntilFree(*lock.Shared(), death, [&lock] {
        lock.Enter();
        lock.Leave();
    });
}

void MeasureRecovery(Report& report, const Exports& dll) {
    const std::string name = std::string(dlmgr::Optex::kMappingPrefix) + dlmgr::kStoreLockName;
    dlmgr::UniqueMapping mapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()));
    dlmgr::UniqueView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
    if (!view) return;
    const auto& lock = *static_cast<const dlmgr::OptexShared*>(view.get());
    SideBySide s({"a holder's death to the next entry", "a waiter's death to the fast path"});
    for (int r = 0; r < 7; ++r) {
        s.Add(0, StoreHolderDeathToEntry(dll, lock));
        s.Add(1, WaiterDeathToFastPath(dll, lock));
    }
    report.Section("Recovery of the store from a host killed (targets: within 5 ms)");
    report.Figure(s[0].name, "ms", s.Figure(0), 5);
    report.Figure(s[1].name, "ms", s.Figure(1), 5);

    SideBySide l({"a holder's death to the next entry, lives watched",
                  "the same, by the slices alone",
                  "a waiter's death to the fast path, lives watched",
                  "the same, by stale records alone"});
    for (int r = 0; r < 7; ++r) {
        l.Add(0, LockHolderDeathToEntry(true));
        l.Add(1, LockHolderDeathToEntry(false));
        l.Add(2, LockWaiterDeathToFastPath(true));
        l.Add(3, LockWaiterDeathToFastPath(false));
    }
    report.Section("Recovery of a lock from a process killed, beside the earlier recovery");
    report.Figure(l[0].name, "ms", l.Figure(0), 5);
    report.Figure(l[1].name, "ms", l.Figure(1));
    report.Figure(l[2].name, "ms", l.Figure(2), 5);
    report.Figure(l[3].name, "ms", l.Figure(3));
}

void DescribeModule(Report& report, const Exports& dll) {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(dll.module, path, sizeof(path));
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ::GetFileAttributesExA(path, GetFileExInfoStandard, &data);
    const double kb = data.nFileSizeLow / 1024.0;
    report.Section("The module");
    report.Figure("dlmgr.dll as shipped", "KB", {kb, kb, kb}, 150);
    bool heavy = false;
    for (const char* module : {"ole32.dll", "combase.dll", "rpcrt4.dll"}) {
        heavy = heavy || ::GetModuleHandleA(module) != nullptr;
    }
    report.Note(heavy ? "Loading the module loaded COM libraries (ole32, combase or rpcrt4)."
                      : "Loading the module loaded no COM libraries (ole32, combase, rpcrt4).");
}

}  // namespace

int RunMeasurements(bool json) {
    Exports dll;
    if (!dll.Load()) {
        std::fprintf(stderr, "dlmgr_bench: cannot load the dlmgr.dll beside the benchmark\n");
        return 1;
    }
    Report report;
    DescribeModule(report, dll);
    MeasureLocks(report);
    MeasureTimeStamp(report, dll);
    unsigned added = 0;
    MeasureListing(report, dll, added);
    MeasureRegistration(report, dll, added);
    MeasureContention(report);
    MeasureHandOver(report);
    MeasureRecovery(report, dll);
    report.Note("Figures: median (lowest .. highest) of the repetitions; ratios are taken within "
                "each repetition, the alternatives taking turns.");
    report.Print(json);
    return 0;
}

}  // namespace bench

namespace {

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::DeleteFileA(child.c_str());
            }
        } while (::FindNextFileA(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryA(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    if (bench::RunChildRole(argc, argv, exitCode)) return exitCode;
    const bool json = argc > 1 && std::strcmp(argv[1], "--json") == 0;
    // The table's mapping is shared by every process on the machine: with a
    // host running, the benchmark would register its tasks in that host's table.
    if (dlmgr::UniqueMapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, dlmgr::kStoreMappingName))) {
        std::fprintf(stderr, "dlmgr_bench: a host has the task table open; close it first, or the "
                             "benchmark would change its table\n");
        return 1;
    }
    char temp[MAX_PATH];
    ::GetTempPathA(sizeof(temp), temp);
    const std::string profile = std::string(temp) + "dlmgr-bench-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(profile.c_str(), nullptr);
    ::SetEnvironmentVariableA("USERPROFILE", profile.c_str());
    bench::Child measuring = bench::Child::Start({"measure", json ? "--json" : "--text"});
    const bool finished = measuring.Wait(15 * 60 * 1000);
    DWORD code = 1;
    if (finished) ::GetExitCodeProcess(measuring.handle(), &code);
    RemoveTree(profile);
    return finished ? static_cast<int>(code) : 1;
}
