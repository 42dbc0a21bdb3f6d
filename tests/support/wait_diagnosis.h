// What a test says when a wait for a child or an event timed out, so that a
// failure on a shared machine can be told from a hang in the module.
#pragma once

#include <string>

namespace dlmgr::test {

// The last output of each child not yet waited for; who holds the store
// lock and the log lock and the state of their recovery mutexes (read
// without taking them); and which processes of the suite are alive.
std::string DescribeWhatWasRunning();

}  // namespace dlmgr::test
