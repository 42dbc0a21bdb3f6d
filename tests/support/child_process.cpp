#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "tests/support/temp_folder.h"
#include "tests/support/wait_diagnosis.h"

namespace dlmgr::test {

namespace {

std::map<std::string, ChildScenario>& Scenarios() {
    static std::map<std::string, ChildScenario> scenarios;
    return scenarios;
}

std::string Quote(const std::string& arg) {
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// A writable command line: the program and each argument quoted.
std::vector<char> CommandLine(const std::string& program, const std::vector<std::string>& args) {
    std::string line = Quote(program);
    for (const auto& arg : args) line += " " + Quote(arg);
    std::vector<char> result(line.begin(), line.end());
    result.push_back('\0');
    return result;
}

std::string OwnPath() {
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    return std::string(path, length);
}

// This process's environment with the overrides applied, as a block.
std::vector<char> BuildEnvironmentBlock(const Environment& overrides) {
    std::map<std::string, std::string> variables;
    char* block = ::GetEnvironmentStringsA();
    for (const char* entry = block; *entry; entry += std::strlen(entry) + 1) {
        const char* equals = std::strchr(entry + 1, '=');  // "=C:" entries start with '='
        if (equals == nullptr) continue;
        variables[std::string(entry, equals)] = equals + 1;
    }
    ::FreeEnvironmentStringsA(block);
    for (const auto& [name, value] : overrides) {
        // Windows compares names without case.
        for (auto it = variables.begin(); it != variables.end();) {
            it = ::lstrcmpiA(it->first.c_str(), name.c_str()) == 0 ? variables.erase(it) : ++it;
        }
        if (!value.empty()) variables[name] = value;
    }
    std::vector<char> result;
    for (const auto& [name, value] : variables) {
        std::string entry = name + "=" + value;
        result.insert(result.end(), entry.begin(), entry.end());
        result.push_back('\0');
    }
    result.push_back('\0');
    return result;
}

// The children not yet waited for, by process id: what runs and where its
// output goes.
struct LiveChild {
    std::string scenario;
    std::string outputPath;
};
std::mutex liveChildrenLock;
std::map<DWORD, LiveChild>& LiveChildren() {
    static std::map<DWORD, LiveChild> children;
    return children;
}

// A file the child writes its output to, open for inheriting.
UniqueFile CreateOutputFile(std::string& path) {
    static LONG serial = 0;
    char folder[MAX_PATH];
    const DWORD length = ::GetTempPathA(sizeof(folder), folder);
    path = std::string(folder, length) + "dlmgr-child-" + std::to_string(::GetCurrentProcessId()) +
           "-" + std::to_string(::InterlockedIncrement(&serial)) + ".txt";
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    return UniqueFile(::CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string Tail(const std::string& text, size_t size) {
    return text.size() <= size ? text : "..." + text.substr(text.size() - size);
}

ULONGLONG childStartTick = 0;  // nonzero in a child

}  // namespace

bool RegisterChildScenario(const std::string& name, ChildScenario scenario) {
    return Scenarios().emplace(name, std::move(scenario)).second;
}

ChildProcess::~ChildProcess() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.get(), 99);
        ::WaitForSingleObject(process_.get(), 5000);
    }
    Forget();
}

void ChildProcess::Forget() {
    if (process_) {
        const std::lock_guard<std::mutex> guard(liveChildrenLock);
        LiveChildren().erase(::GetProcessId(process_.get()));
    }
    process_.reset();
    // A program the child started may still hold the file: it then stays in
    // the temporary folder.
    if (!outputPath_.empty()) ::DeleteFileA(outputPath_.c_str());
    outputPath_.clear();
}

ChildProcess ChildProcess::Start(const std::string& scenario, const ChildArgs& args,
                                 const Environment& environment) {
    return StartIn(TestProgram(false), scenario, args, environment);
}

ChildProcess ChildProcess::StartIn(const std::string& program, const std::string& scenario,
                                   const ChildArgs& args, const Environment& environment) {
    ChildArgs fullArgs = {kChildFlag, scenario};
    fullArgs.insert(fullArgs.end(), args.begin(), args.end());
    std::vector<char> mutableLine = CommandLine(program, fullArgs);
    std::vector<char> envBlock = BuildEnvironmentBlock(environment);

    ChildProcess child;
    const UniqueFile output = CreateOutputFile(child.outputPath_);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION info = {};
    if (output && ::CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0,
                                   envBlock.data(), nullptr, &startup, &info)) {
        child.process_.reset(info.hProcess);
        child.thread_.reset(info.hThread);
        const std::lock_guard<std::mutex> guard(liveChildrenLock);
        LiveChildren()[info.dwProcessId] = {scenario, child.outputPath_};
    } else {
        // Said at once, with the system's reason: a wait for this child would
        // only time out.
        ADD_FAILURE() << "could not start " << program << " " << scenario << ": error "
                      << ::GetLastError();
    }
    return child;
}

int ChildProcess::Wait(DWORD timeoutMs) {
    if (!process_) return -1;
    std::string scenario;
    {
        const std::lock_guard<std::mutex> guard(liveChildrenLock);
        scenario = LiveChildren()[::GetProcessId(process_.get())].scenario;
    }
    if (::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
        // Described before the kill: what it and the rest were doing.
        ADD_FAILURE() << "child " << scenario << " (process " << ::GetProcessId(process_.get())
                      << ") did not end within " << timeoutMs / 1000 << " s; it is killed\n"
                      << DescribeWhatWasRunning();
        ::TerminateProcess(process_.get(), 99);
        ::WaitForSingleObject(process_.get(), 5000);
        Forget();
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    if (code == 1 || code >= 0xC0000000) {
        std::printf("output of child %s (exit code 0x%lx):\n%s\n", scenario.c_str(), code,
                    ReadWholeFile(outputPath_).c_str());
    }
    Forget();
    return static_cast<int>(code);
}

std::string DescribeChildren() {
    std::map<DWORD, LiveChild> children;
    {
        const std::lock_guard<std::mutex> guard(liveChildrenLock);
        children = LiveChildren();
    }
    std::string text;
    for (const auto& [processId, child] : children) {
        text += "child " + child.scenario + " (process " + std::to_string(processId) +
                "), its last output:\n" + Tail(ReadWholeFile(child.outputPath), 1500) + "\n";
    }
    return text;
}

void Trace(const std::string& what) {
    if (childStartTick == 0) return;
    std::printf("[%6llu ms] %s\n", ::GetTickCount64() - childStartTick, what.c_str());
}

std::string TestProgram(bool ofTheOtherSize) {
    const std::string own = OwnPath();
    if (!ofTheOtherSize) return own;
#ifdef DLMGR_OTHER_BUILD_BIN
    const size_t slash = own.find_last_of('\\');
    std::string path = own.substr(0, slash + 1) + DLMGR_OTHER_BUILD_BIN + own.substr(slash);
    for (char& c : path) c = c == '/' ? '\\' : c;
    char full[MAX_PATH];
    const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof(full), full, nullptr);
    return length > 0 && length < sizeof(full) ? std::string(full, length) : path;
#else
    return {};
#endif
}

bool OtherBuildProgramIsOfTheOtherSize() {
    const std::string program = TestProgram(true);
    DWORD type = 0;
    if (program.empty() || !::GetBinaryTypeA(program.c_str(), &type)) return false;
    return type == (sizeof(void*) == 4 ? SCS_64BIT_BINARY : SCS_32BIT_BINARY);
}

int RunChild(const std::string& scenario, const ChildArgs& args, const Environment& environment,
             DWORD timeoutMs) {
    return ChildProcess::Start(scenario, args, environment).Wait(timeoutMs);
}

namespace {

struct PipeReader {
    HANDLE pipe;
    std::string text;
};

DWORD WINAPI ReadPipe(void* parameter) {
    auto* reader = static_cast<PipeReader*>(parameter);
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(reader->pipe, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        reader->text.append(chunk, read);
    }
    return 0;
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const Environment& environment, DWORD timeoutMs) {
    ProgramResult result;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return result;
    UniqueFile reading(readEnd);
    UniqueFile writing(writeEnd);
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::vector<char> mutableLine = CommandLine(program, args);
    std::vector<char> envBlock = BuildEnvironmentBlock(environment);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, envBlock.data(),
                          nullptr, &startup, &info)) {
        ADD_FAILURE() << "could not start " << program << ": error " << ::GetLastError();
        return result;
    }
    UniqueProcess process(info.hProcess);
    UniqueThread mainThread(info.hThread);
    writing.reset();  // the reader sees the end once the program's copy closes

    auto* reader = new PipeReader{readEnd, {}};
    UniqueThread readerThread(::CreateThread(nullptr, 0, ReadPipe, reader, 0, nullptr));
    std::string timedOut;
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        timedOut = "\n<" + program + " did not end within " + std::to_string(timeoutMs / 1000) +
                   " s; it is killed>\n" + DescribeWhatWasRunning();
        ::TerminateProcess(process.get(), 99);
        ::WaitForSingleObject(process.get(), 5000);
    } else {
        DWORD code = 0;
        ::GetExitCodeProcess(process.get(), &code);
        result.exitCode = static_cast<int>(code);
    }
    // Programs the child started may still hold the pipe: wait a while, then
    // leave the reader (and what it reads from) behind rather than hang.
    if (::WaitForSingleObject(readerThread.get(), 5000) != WAIT_OBJECT_0) {
        reading.release();
        result.output = "<output still open>" + timedOut;
        return result;
    }
    result.output = reader->text + timedOut;
    delete reader;
    return result;
}

bool RunChildScenarioIfRequested(int argc, char** argv, int& exitCode) {
    if (argc < 3 || std::strcmp(argv[1], kChildFlag) != 0) return false;
    auto found = Scenarios().find(argv[2]);
    if (found == Scenarios().end()) {
        std::fprintf(stderr, "unknown child scenario %s\n", argv[2]);
        exitCode = 3;
        return true;
    }
    // Unbuffered: a child killed or hung still shows all it said.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    childStartTick = ::GetTickCount64();
    Trace(std::string("scenario ") + argv[2] + " of process " +
          std::to_string(::GetCurrentProcessId()));
    int gtestArgc = 1;
    ::testing::InitGoogleTest(&gtestArgc, argv);
    found->second(ChildArgs(argv + 3, argv + argc));
    exitCode = ::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed() ? 1 : 0;
    return true;
}

}  // namespace dlmgr::test
