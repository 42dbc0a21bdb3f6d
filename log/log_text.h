// Text that came from a task (a path, a name, a source) as the log shows it:
// each control character, bytes 1 to 31, becomes an escape (\r, \n, \t or
// \xHH), so that nothing a host registers can start a log line of its own.
// Other bytes, double-byte characters included (none of their bytes is below
// 32), are kept as they are.
#pragma once

#include <cstddef>

namespace dlmgr {

// Escapes at most width bytes of text (up to its terminator) into out, which
// holds 4 * width + 1 bytes.
void EscapeForLog(const char* text, size_t width, char* out) noexcept;

template <size_t Width>
class LogText {
public:
    explicit LogText(const char* text) noexcept { EscapeForLog(text, Width, text_); }
    const char* c_str() const noexcept { return text_; }

private:
    char text_[Width * 4 + 1];
};

}  // namespace dlmgr
