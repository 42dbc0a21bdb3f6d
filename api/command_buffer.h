// Bounded text for the command lines the module starts: every piece is
// appended with the total cut to the span's limit, and the span is always
// NUL-terminated because it starts zero-filled and never writes its last byte.
#pragma once

#include <cstddef>

namespace dlmgr {

class TextSpan {
public:
    // data has limit + 1 bytes; any text already there is kept.
    TextSpan(char* data, size_t limit) noexcept;

    void Append(const char* text) noexcept { AppendAtMost(text, static_cast<size_t>(-1)); }
    // Appends at most width bytes of a field that may lack a terminator.
    void AppendAtMost(const char* text, size_t width) noexcept;
    // Replaces everything built so far.
    void Assign(const char* text) noexcept;
    // Puts everything built so far in quotation marks, cut to the limit.
    void Quote() noexcept;
    // Recounts after someone wrote into data() directly.
    void Refresh() noexcept;
    // True once any piece did not fit whole: such a text must never be used
    // as a command line, whose meaning a cut changes.
    bool cut() const noexcept { return cut_; }

    // The unused rest, as a span of its own that shares this one's bytes.
    TextSpan Rest() noexcept { return TextSpan(data_ + length_, limit_ - length_); }

    char* data() noexcept { return data_; }
    const char* c_str() const noexcept { return data_; }
    size_t length() const noexcept { return length_; }
    size_t limit() const noexcept { return limit_; }
    size_t room() const noexcept { return limit_ - length_; }
    bool empty() const noexcept { return length_ == 0; }

private:
    char* data_;
    size_t limit_;
    size_t length_;
    bool cut_ = false;
};

// A 512-byte zero-filled command line of at most 511 characters.
class CommandBuffer {
public:
    static constexpr size_t kSize = 512;

    CommandBuffer() noexcept : storage_(), text_(storage_, kSize - 1) {}
    CommandBuffer(const CommandBuffer&) = delete;
    CommandBuffer& operator=(const CommandBuffer&) = delete;

    TextSpan& text() noexcept { return text_; }
    const TextSpan& text() const noexcept { return text_; }
    const char* c_str() const noexcept { return storage_; }

private:
    char storage_[kSize];
    TextSpan text_;
};

}  // namespace dlmgr
