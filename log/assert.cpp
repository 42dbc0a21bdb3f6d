#include "log/assert.h"

#include <windows.h>

#include "log/log.h"

namespace dlmgr {

AssertException::AssertException(const char* message) noexcept : message_() {
    ::lstrcpynA(message_, message, sizeof(message_));
}

void Assert(bool condition, const char* message) {
    if (condition) return;
    Log(8, "%s", message);
    throw AssertException(message);
}

}  // namespace dlmgr
