#include "log/log_line.h"

#include <cstring>

#include "log/bounded_format.h"

namespace dlmgr {

namespace {

// English abbreviations whatever the process's locale: readers of the shared
// log must see one format from every process.
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The longest prefix of text, at most limit bytes, that ends on a whole
// character: a GBK lead byte (0x81..0xFE) takes the byte after it along.
size_t WholeCharacters(const char* text, size_t limit) {
    size_t end = 0;
    while (end < limit) {
        const auto byte = static_cast<unsigned char>(text[end]);
        const size_t width = byte >= 0x81 && byte <= 0xFE ? 2 : 1;
        if (end + width > limit) break;
        end += width;
    }
    return end;
}

}  // namespace

void FormatLogStamp(const SYSTEMTIME& time, char* out) {
    const WORD month = time.wMonth >= 1 && time.wMonth <= 12 ? time.wMonth : 1;
    FormatBounded(out, kLogStampLength + 1, "[%s %02u %02u:%02u:%02u] ", kMonths[month - 1],
                  time.wDay % 100u, time.wHour % 100u, time.wMinute % 100u, time.wSecond % 100u);
}

size_t FormatLogLine(char (&line)[kLogLineSize], const SYSTEMTIME& time, const char* format,
                     va_list args) {
    FormatLogStamp(time, line);
    // Room for the message: everything but the stamp and the CR LF. The
    // formatter also wants a byte for its NUL, which the CR then overwrites.
    constexpr size_t kMessageRoom = kLogLineSize - kLogStampLength - 2;
    bool cut = false;
    const size_t written =
        FormatBoundedV(line + kLogStampLength, kMessageRoom + 1, cut, format, args);
    // Cut, but never inside a double-byte character.
    size_t length = kLogStampLength + (cut ? WholeCharacters(line + kLogStampLength, written) : written);
    line[length++] = '\r';
    line[length++] = '\n';
    return length;
}

void AppendLogLine(HANDLE file, const char* format, va_list args) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char line[kLogLineSize];
    const size_t length = FormatLogLine(line, now, format, args);

    ::SetFilePointer(file, 0, nullptr, FILE_END);
    size_t written = 0;
    while (written < length) {
        DWORD chunk = 0;
        if (!::WriteFile(file, line + written, static_cast<DWORD>(length - written), &chunk,
                         nullptr) ||
            chunk == 0) {
            return;
        }
        written += chunk;
    }
}

void WriteLogLine(HANDLE file, const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendLogLine(file, format, args);
    va_end(args);
}

}  // namespace dlmgr
