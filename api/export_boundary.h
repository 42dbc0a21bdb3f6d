// Hosts call the exports through a C ABI from code built by other compilers:
// a C++ exception that reached them would end the process. Every export runs
// its body through ExportBoundary, which turns any exception into the
// export's failure result. Guards inside the body have left storeLock by then.
#pragma once

#include "log/assert.h"

namespace dlmgr {

template <typename Result, typename Body>
Result ExportBoundary(Result onFailure, Body&& body) noexcept {
    try {
        return body();
    } catch (const AssertException&) {
        return onFailure;  // already logged at level 8 by Assert
    } catch (...) {
        return onFailure;
    }
}

}  // namespace dlmgr
