#include "api/command_buffer.h"

#include <windows.h>

#include <cstring>

namespace dlmgr {

TextSpan::TextSpan(char* data, size_t limit) noexcept
    : data_(data), limit_(limit), length_(::strnlen(data, limit)) {}

void TextSpan::AppendAtMost(const char* text, size_t width) noexcept {
    size_t count = ::strnlen(text, width < room() ? width : room());
    if (count == room() && count < width && text[count] != '\0') cut_ = true;
    std::memcpy(data_ + length_, text, count);
    length_ += count;
    data_[length_] = '\0';
}

void TextSpan::Assign(const char* text) noexcept {
    std::memset(data_, 0, limit_ + 1);
    length_ = 0;
    cut_ = false;
    Append(text);
}

void TextSpan::Quote() noexcept {
    char unquoted[CommandBuffer::kSize];
    ::lstrcpynA(unquoted, data_, static_cast<int>(length_ + 1 < sizeof(unquoted) ? length_ + 1 : sizeof(unquoted)));
    const bool wasCut = cut_;
    Assign("\"");
    Append(unquoted);
    Append("\"");
    cut_ = cut_ || wasCut;
}

void TextSpan::Refresh() noexcept { length_ = ::strnlen(data_, limit_); }

}  // namespace dlmgr
