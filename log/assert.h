// Assert: the one way the module signals that an operation which must succeed
// did not. The exception never leaves the module: exports and the entry
// routine turn it into a failed result.
#pragma once

#include <cstddef>

namespace dlmgr {

class AssertException {
public:
    static constexpr size_t kMessageSize = 256;

    explicit AssertException(const char* message) noexcept;
    const char* message() const noexcept { return message_; }

private:
    char message_[kMessageSize];  // the first 255 characters, always terminated
};

// Logs message at level 8 and throws AssertException when condition is false.
void Assert(bool condition, const char* message);

}  // namespace dlmgr
