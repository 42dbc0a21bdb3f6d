// Tests that need several processes re-run their own executable with a hidden
// first argument naming a child scenario. Every wait has a time-out.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "win/unique_resource.h"

namespace dlmgr::test {

constexpr char kChildFlag[] = "--dlmgr-child";
constexpr DWORD kChildTimeoutMs = 30000;

using ChildArgs = std::vector<std::string>;
using ChildScenario = std::function<void(const ChildArgs&)>;

// Scenarios run with gtest assertions; a child exits 0 when none failed.
bool RegisterChildScenario(const std::string& name, ChildScenario scenario);

#define DLMGR_CHILD_SCENARIO(name)                                                         \
    static void ChildScenario_##name(const ::dlmgr::test::ChildArgs& args);                \
    static const bool childScenarioRegistered_##name =                                      \
        ::dlmgr::test::RegisterChildScenario(#name, ChildScenario_##name);                   \
    static void ChildScenario_##name([[maybe_unused]] const ::dlmgr::test::ChildArgs& args)

// Environment variables to set in (or, with an empty value, remove from) the child.
using Environment = std::map<std::string, std::string>;

// A child started from this executable; the destructor kills it if it still
// runs. Its output goes to a file of its own: echoed when the child failed
// (exit code 1 or an exception), and its end quoted when a wait timed out.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(ChildProcess&&) = default;
    ChildProcess& operator=(ChildProcess&&) = default;
    ~ChildProcess();

    static ChildProcess Start(const std::string& scenario, const ChildArgs& args = {},
                              const Environment& environment = {});
    // The scenario run by program, another build of this test program
    // (TestProgram(true)).
    static ChildProcess StartIn(const std::string& program, const std::string& scenario,
                                const ChildArgs& args = {}, const Environment& environment = {});

    bool started() const { return process_.valid(); }
    HANDLE handle() const { return process_.get(); }
    HANDLE mainThread() const { return thread_.get(); }
    // The exit code, or -1 when the child did not end within the time-out
    // (it is then killed, and the test fails saying what was running).
    int Wait(DWORD timeoutMs = kChildTimeoutMs);

private:
    void Forget();

    UniqueProcess process_;
    UniqueThread thread_;
    std::string outputPath_;
};

// The end of the output of every child this process started that has not
// been waited for: what each was doing.
std::string DescribeChildren();

// In a child, one line of what it is doing, with the time, for the parent to
// quote should it wait in vain; nothing in the test process itself.
void Trace(const std::string& what);

// Starts a scenario and waits for it; the exit code, -1 on time-out.
int RunChild(const std::string& scenario, const ChildArgs& args = {},
             const Environment& environment = {}, DWORD timeoutMs = kChildTimeoutMs);

struct ProgramResult {
    int exitCode = -1;  // -1 when it did not end within the time-out (it is then killed)
    std::string output;  // standard output and standard error, interleaved
};

// Runs another program with its output captured.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const Environment& environment = {}, DWORD timeoutMs = kChildTimeoutMs);

// This test program, or its build for the other pointer size, configured
// beside this build (empty when this build was configured alone).
std::string TestProgram(bool ofTheOtherSize);
// True when that build is there and of the other pointer size: tests that
// share the table across sizes must never pass with two programs of one size.
bool OtherBuildProgramIsOfTheOtherSize();

// Opens a test that runs children of the other build: skipped when this
// build was configured alone, failed when the other build is missing.
#define DLMGR_REQUIRE_OTHER_BUILD()                                                         \
    if (::dlmgr::test::TestProgram(true).empty())                                           \
        GTEST_SKIP() << "configured without the other pointer size's build";               \
    ASSERT_TRUE(::dlmgr::test::OtherBuildProgramIsOfTheOtherSize())                        \
        << ::dlmgr::test::TestProgram(true) << " is missing or of this size: build both presets"

// Called by main: runs the scenario named on the command line, if any, and
// sets exitCode. False when this process is not a child.
bool RunChildScenarioIfRequested(int argc, char** argv, int& exitCode);

}  // namespace dlmgr::test
