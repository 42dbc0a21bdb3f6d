// Tests of the real DLL. The parent never loads it: children do, each test
// with its own USERPROFILE (so its own data folder), one after another, so
// that whether a child is the first to map the store is up to the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dlmgr.h"
#include "store/task_store.h"
#include "tests/support/child_process.h"
#include "tests/support/log_reader.h"
#include "tests/support/store_file.h"
#include "tests/support/temp_folder.h"

namespace dlmgr::test {

constexpr int kChildTrue = 10;
constexpr int kChildFalse = 11;

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The child's environment: this test's profile folder.
    Environment ChildEnvironment() const { return {{"USERPROFILE", profile.path()}}; }
    int Run(const std::string& scenario, const ChildArgs& args = {}) {
        return RunChild(scenario, args, ChildEnvironment());
    }
    // ofTheOtherSize: in the other pointer size's build (DLMGR_REQUIRE_OTHER_BUILD first).
    ChildProcess Start(const std::string& scenario, const ChildArgs& args = {},
                       bool ofTheOtherSize = false) {
        return ChildProcess::StartIn(TestProgram(ofTheOtherSize), scenario, args, ChildEnvironment());
    }
    int RunOther(const std::string& scenario, const ChildArgs& args = {}) {
        return Start(scenario, args, true).Wait();
    }

    std::string DataFolder() const { return profile / "Application Data\\p4p"; }
    std::string DataFile() const { return DataFolder() + "\\dlmgr.dat"; }
    std::string DefaultLog() const { return DataFolder() + "\\dlmgr.log"; }
    std::unique_ptr<StoreBlock> Store() const { return ReadStoreFile(DataFile()); }
    void PrepareStore(const StoreBlock& block, size_t size = sizeof(StoreBlock));

    // Sends every log line (level 0 and up) to a file of this test.
    std::string LogEverything();

    TempFolder profile;
};

// The settings key every process reads: cleared around each module test.
extern const char* const kProductKey;

}  // namespace dlmgr::test
