#include "log/bounded_format.h"

#include <stdio.h>

namespace dlmgr {

size_t FormatBoundedV(char* out, size_t size, bool& cut, const char* format, va_list args) noexcept {
    cut = false;
    if (size == 0) return 0;
    // The runtime's formatter writes no terminator when the text fills the
    // room exactly, and says -1 when it did not fit.
    const int written = ::_vsnprintf(out, size - 1, format, args);
    cut = written < 0;
    const size_t length = cut ? size - 1 : static_cast<size_t>(written);
    out[length] = '\0';
    return length;
}

size_t FormatBounded(char* out, size_t size, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    bool cut = false;
    const size_t length = FormatBoundedV(out, size, cut, format, args);
    va_end(args);
    return length;
}

}  // namespace dlmgr
