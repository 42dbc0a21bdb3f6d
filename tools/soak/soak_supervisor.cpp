#include "tools/soak/soak_supervisor.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "tools/dlmgrctl/lock_report.h"
#include "tools/soak/soak_oracle.h"
#include "win/unique_resource.h"

namespace soak {

namespace {

constexpr UINT kKilledCode = 0xDEAD;
constexpr LONG kStallMs = 5000;

std::string OwnProgram() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    return std::string(path, length);
}

// Starts a command line with the soak's console; empty, and said, on failure.
dlmgr::UniqueProcess StartProgram(const std::string& line) {
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        std::printf("soak: could not start %s: error %lu\n", line.c_str(), ::GetLastError());
        return dlmgr::UniqueProcess();
    }
    const dlmgr::UniqueThread ignored(info.hThread);
    return dlmgr::UniqueProcess(info.hProcess);
}

struct Worker {
    std::string program;
    int bits = 32;
    dlmgr::UniqueProcess process;
};

class Supervisor {
public:
    explicit Supervisor(const SoakOptions& options) : options_(options) {}
    int Run();

private:
    bool Prepare();
    void Start(int index);
    void Kill(int index);
    void ReapEnded();
    void Watch();
    int CheckFile();

    SoakOptions options_;
    std::string oracleName_;
    dlmgr::UniqueMapping oracleMapping_;
    dlmgr::UniqueView oracleView_;
    Oracle* oracle_ = nullptr;
    std::string profile_;
    std::vector<Worker> workers_;
    LONG stalledAt_[kMaxSlots] = {};  // the progress tick a stall was counted at
    unsigned random_ = 0;
    long kills_ = 0;
    long allKills_ = 0;
    long stalls_ = 0;
    long crashes_ = 0;

    unsigned Next() {
        random_ ^= random_ << 13;
        random_ ^= random_ >> 17;
        random_ ^= random_ << 5;
        return random_;
    }
};

bool Supervisor::Prepare() {
    random_ = ::GetTickCount() | 1;
    oracleName_ = "dlmgr-soak-oracle-" + std::to_string(::GetCurrentProcessId());
    oracleMapping_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              sizeof(Oracle), oracleName_.c_str()));
    if (oracleMapping_) {
        oracleView_.reset(::MapViewOfFile(oracleMapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }
    oracle_ = static_cast<Oracle*>(oracleView_.get());
    if (oracle_ == nullptr) return false;
    oracle_->magic = kOracleMagic;
    // A table of the soak's own: workers see this folder as their profile.
    char temp[MAX_PATH];
    const DWORD length = ::GetTempPathA(sizeof(temp), temp);
    profile_ = std::string(temp, length) + "dlmgr-soak-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(profile_.c_str(), nullptr);
    ::CreateDirectoryA((profile_ + "\\Application Data").c_str(), nullptr);
    ::SetEnvironmentVariableA("USERPROFILE", profile_.c_str());
    const std::string own = OwnProgram();
    for (int i = 0; i < options_.processes; ++i) {
        Worker worker;
        const bool peer = !options_.peerProgram.empty() && i % 2 == 1;
        worker.program = peer ? options_.peerProgram : own;
        worker.bits = (sizeof(void*) == 4) != peer ? 32 : 64;
        workers_.push_back(std::move(worker));
    }
    return true;
}

void Supervisor::Start(int index) {
    Worker& worker = workers_[index];
    ::InterlockedExchange(&oracle_->stage[index], 0);
    worker.process = StartProgram("\"" + worker.program + "\" --worker " + oracleName_ + " " +
                                  std::to_string(index) + (options_.wrongLock ? " --wrong-lock" : ""));
}

void Supervisor::Kill(int index) {
    Worker& worker = workers_[index];
    if (!worker.process) return;
    ::TerminateProcess(worker.process.get(), kKilledCode);
    ::WaitForSingleObject(worker.process.get(), 10000);
    worker.process.reset();
}

// A worker that ended on its own crashed: counted, said, started again.
void Supervisor::ReapEnded() {
    for (size_t i = 0; i < workers_.size(); ++i) {
        Worker& worker = workers_[i];
        if (!worker.process || ::WaitForSingleObject(worker.process.get(), 0) != WAIT_OBJECT_0) continue;
        DWORD code = 0;
        ::GetExitCodeProcess(worker.process.get(), &code);
        ++crashes_;
        const bool ours = oracle_->stageProcess[i] == static_cast<LONG>(::GetProcessId(worker.process.get()));
        static const char* const kStages[] = {"before mapping the oracle", "before loading the library",
                                              "before starting its threads", "while running"};
        std::printf("soak: worker %zu (%d-bit) ended by itself with 0x%lx, %s\n", i, worker.bits, code,
                    kStages[ours ? oracle_->stage[i] : 0]);
        worker.process.reset();
        Start(static_cast<int>(i));
    }
}

// A live worker thread that finished no operation for five seconds.
void Supervisor::Watch() {
    const LONG now = static_cast<LONG>(::GetTickCount());
    for (int slot = 0; slot < options_.processes * kThreadsPerWorker; ++slot) {
        const ThreadSlot& thread = oracle_->slots[slot];
        const LONG progress = thread.progressTick;
        if (thread.generation == 0 || now - progress < kStallMs || stalledAt_[slot] == progress ||
            !MarkIsOfLiveThread(*oracle_, MarkOf(slot, thread.generation))) {
            continue;
        }
        stalledAt_[slot] = progress;
        ++stalls_;
        std::printf("soak: stall: thread %ld of worker %d (process %ld) made no progress for %ld s; "
                    "store lock %s\n",
                    thread.threadId, slot / kThreadsPerWorker, thread.processId,
                    (now - progress) / 1000,
                    dlmgrctl::DescribeHolder(dlmgrctl::ReadStoreLockReport()).c_str());
    }
}

int Supervisor::CheckFile() {
    const dlmgr::UniqueProcess process =
        StartProgram("\"" + OwnProgram() + "\" --check \"" + profile_ +
                     "\\Application Data\\p4p\\dlmgr.dat\"" + (options_.wrongLock ? " --wrong-lock" : ""));
    if (!process) return -1;
    if (::WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), kKilledCode);
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

int Supervisor::Run() {
    if (!Prepare()) {
        std::printf("soak: could not make the oracle\n");
        return 2;
    }
    std::printf("soak: %u s, %d processes (%s), %d threads each, table in %s\n", options_.seconds,
                options_.processes,
                options_.peerProgram.empty() ? "one pointer size" : "32- and 64-bit",
                kThreadsPerWorker, profile_.c_str());
    std::fflush(stdout);
    for (int i = 0; i < options_.processes; ++i) Start(i);
    const ULONGLONG start = ::GetTickCount64();
    const ULONGLONG end = start + options_.seconds * 1000ULL;
    ULONGLONG nextKill = start + 100 + Next() % 400;
    while (::GetTickCount64() < end) {
        ::Sleep(50);
        ReapEnded();
        Watch();
        if (::GetTickCount64() < nextKill) continue;
        nextKill = ::GetTickCount64() + 100 + Next() % 400;
        if (Next() % 16 == 0) {
            // Every process gone: the next start-up is the table's first mapper.
            for (size_t i = 0; i < workers_.size(); ++i) Kill(static_cast<int>(i));
            for (size_t i = 0; i < workers_.size(); ++i) Start(static_cast<int>(i));
            ++allKills_;
            kills_ += options_.processes;
        } else {
            const int victim = static_cast<int>(Next() % workers_.size());
            Kill(victim);
            Start(victim);
            ++kills_;
        }
    }
    ::InterlockedExchange(&oracle_->stop, 1);
    for (Worker& worker : workers_) {
        if (worker.process && ::WaitForSingleObject(worker.process.get(), 15000) != WAIT_OBJECT_0) {
            std::printf("soak: a worker did not stop within 15 s\n");
            ++stalls_;
        }
    }
    Watch();
    for (size_t i = 0; i < workers_.size(); ++i) Kill(static_cast<int>(i));
    std::fflush(stdout);
    const int fileCheck = CheckFile();

    const long faults = oracle_->violations + oracle_->listingFaults + stalls_ + crashes_ +
                        (fileCheck != 0 ? 1 : 0);
    std::printf("soak: %llu s\n", (::GetTickCount64() - start) / 1000);
    std::printf("  kills %ld (all at once %ld), threads ended by their sibling %ld\n", kills_,
                allKills_, oracle_->threadKills);
    std::printf("  operations %ld (32-bit %ld, 64-bit %ld), holds %ld\n",
                oracle_->operations32 + oracle_->operations64, oracle_->operations32,
                oracle_->operations64, oracle_->holds);
    std::printf("  violations %ld, listing faults %ld, stalls %ld, workers that ended by "
                "themselves %ld\n",
                oracle_->violations, oracle_->listingFaults, stalls_, crashes_);
    std::printf("  file check: %s\n", fileCheck == 0 ? "sound" : "FAILED");
    std::printf("soak: %s\n", faults == 0 ? "passed" : "FAILED");
    return faults == 0 ? 0 : 1;
}

}  // namespace

int RunSoak(const SoakOptions& options) {
    Supervisor supervisor(options);
    return supervisor.Run();
}

}  // namespace soak
