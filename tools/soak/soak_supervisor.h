// The soak itself: starts worker processes of both pointer sizes, kills them
// at random (now and then all at once, so the next start-up maps the table
// first), watches every worker thread's progress, and at the end has a fresh
// process check the file. Prints its figures; non-zero on any fault.
#pragma once

#include <string>

namespace soak {

struct SoakOptions {
    unsigned seconds = 20;
    int processes = 4;
    std::string peerProgram;  // the other pointer size's dlmgr_soak.exe, or empty
    bool wrongLock = false;   // workers load the library built with a lock that gives up waiting
};

int RunSoak(const SoakOptions& options);

}  // namespace soak
