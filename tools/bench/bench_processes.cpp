#include "tools/bench/bench_processes.h"

#include <cstdio>
#include <cstring>

#include "sync/optex.h"

namespace bench {

namespace {

std::string OwnPath() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    return std::string(path, length);
}

// Each of two processes changes its own task (or, with a named mutex over
// shared memory, its own slot) iterations times, all starting together.
int Contend(const std::vector<std::string>& args) {
    const bool store = args.at(0) == "store";
    const std::string& name = args.at(1);
    const int iterations = std::stoi(args.at(2));
    const int self = std::stoi(args.at(3));
    Exports exports;
    dlmgr::UniqueMutex mutex;
    dlmgr::UniqueMapping mapping;
    dlmgr::UniqueView view;
    TaskRecord record = BenchTask(900 + self, DLMGR_STATUS_RUNNING);
    if (store) {
        if (!exports.Load() || exports.SetTaskInfo(&record) != 1) return 2;
    } else {
        mutex.reset(::CreateMutexA(nullptr, FALSE, (name + "-mutex").c_str()));
        mapping.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           2 * sizeof(TaskRecord), (name + "-memory").c_str()));
        view.reset(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        if (!mutex || !view) return 2;
    }
    auto* slots = static_cast<TaskRecord*>(view.get());
    Event(name + "-ready-" + std::to_string(self)).Signal();
    if (!Event(name + "-go").Wait()) return 3;
    for (int i = 0; i < iterations; ++i) {
        record.status = i % 2 ? DLMGR_STATUS_RUNNING : DLMGR_STATUS_RUNNING_4;
        if (store) {
            exports.SetTaskInfo(&record);
        } else {
            ::WaitForSingleObject(mutex.get(), INFINITE);
            std::memcpy(&slots[self], &record, sizeof(record));
            ::ReleaseMutex(mutex.get());
        }
    }
    return 0;
}

// Holds the store (counted, not yet copied) until killed.
int Hold(const std::vector<std::string>& args) {
    Exports exports;
    if (!exports.Load()) return 2;
    exports.GetTaskCount(0);
    Event(args.at(0) + "-held").Signal();
    ::Sleep(kChildTimeoutMs);
    return 0;
}

// Waits for the store, once told to, until killed.
int WaitForStore(const std::vector<std::string>& args) {
    Exports exports;
    if (!exports.Load()) return 2;
    Event(args.at(0) + "-loaded").Signal();
    if (!Event(args.at(0) + "-go").Wait()) return 3;
    exports.GetTaskCount(0);
    exports.GetTaskInfo(nullptr);
    return 0;
}

// Takes the lock of that name and holds it until killed.
int HoldLock(const std::vector<std::string>& args) {
    dlmgr::Optex lock;
    if (!lock.Init(args.at(0).c_str(), false, 4000) || lock.Enter() == dlmgr::LockResult::kUnusable) {
        return 2;
    }
    Event(args.at(0) + "-held").Signal();
    ::Sleep(kChildTimeoutMs);
    return 0;
}

// Waits for the lock of that name until killed.
int WaitForLock(const std::vector<std::string>& args) {
    dlmgr::Optex lock;
    if (!lock.Init(args.at(0).c_str(), false, 4000)) return 2;
    lock.Enter();
    return 0;
}

}  // namespace

bool Exports::Load() {
    module = ::LoadLibraryA("dlmgr.dll");
    return module != nullptr && Resolve(module);
}

TaskRecord BenchTask(unsigned number, int status) {
    TaskRecord record;
    std::memset(&record, 0, sizeof(record));
    std::memcpy(record.id.bytes, &number, sizeof(number));
    record.id.bytes[15] = 0xBE;
    record.status = status;
    std::snprintf(record.filePath, sizeof(record.filePath), "C:\\bench\\%u.bin", number);
    return record;
}

Child::~Child() { Kill(); }

Child Child::Start(const std::vector<std::string>& roleAndArgs) {
    std::string line = "\"" + OwnPath() + "\" --child";
    for (const std::string& arg : roleAndArgs) line += " \"" + arg + "\"";
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    Child child;
    if (::CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         nullptr, &startup, &info)) {
        child.process_.reset(info.hProcess);
        child.thread_.reset(info.hThread);
    }
    return child;
}

void Child::Kill() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), 5000);
    }
}

bool Child::Wait(DWORD timeoutMs) {
    return process_ && ::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

int RunMeasurements(bool json);

bool RunChildRole(int argc, char** argv, int& exitCode) {
    if (argc < 3 || std::strcmp(argv[1], "--child") != 0) return false;
    const std::string role = argv[2];
    const std::vector<std::string> args(argv + 3, argv + argc);
    if (role == "contend") exitCode = Contend(args);
    else if (role == "hold") exitCode = Hold(args);
    else if (role == "wait") exitCode = WaitForStore(args);
    else if (role == "hold-lock") exitCode = HoldLock(args);
    else if (role == "wait-lock") exitCode = WaitForLock(args);
    else if (role == "measure") exitCode = RunMeasurements(!args.empty() && args[0] == "--json");
    else exitCode = 2;
    return true;
}

}  // namespace bench
