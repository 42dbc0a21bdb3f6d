// One log line: "[Mon dd hh:mm:ss] " + message + CR LF, built in a fixed buffer.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>

namespace dlmgr {

constexpr size_t kLogLineSize = 1024;
constexpr size_t kLogStampLength = 18;

// Writes the time stamp of `time` into out (at least kLogStampLength + 1 bytes).
void FormatLogStamp(const SYSTEMTIME& time, char* out);

// Builds the whole line into line; returns its length. A message too long for
// the buffer is cut, on a whole (GBK) character, so that the line still ends
// with CR LF.
size_t FormatLogLine(char (&line)[kLogLineSize], const SYSTEMTIME& time, const char* format,
                     va_list args);

// Appends the line at the end of file; stops at the first failed write.
void AppendLogLine(HANDLE file, const char* format, va_list args);
void WriteLogLine(HANDLE file, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(gnu_printf, 2, 3)))
#endif
    ;

}  // namespace dlmgr
