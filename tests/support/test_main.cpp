#include <gtest/gtest.h>

#include "tests/support/child_process.h"

int main(int argc, char** argv) {
    int exitCode = 0;
    if (dlmgr::test::RunChildScenarioIfRequested(argc, argv, exitCode)) return exitCode;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
