// printf-style formatting into a fixed buffer with the C runtime's own
// formatter: MinGW's would add a fifth to the DLL's size, and the library's
// formats are plain. The text is cut to size - 1 bytes and always terminated.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace dlmgr {

// The length written; cut tells whether the text was longer.
size_t FormatBoundedV(char* out, size_t size, bool& cut, const char* format, va_list args) noexcept;

size_t FormatBounded(char* out, size_t size, const char* format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(ms_printf, 3, 4)))
#endif
    ;

}  // namespace dlmgr
