// A record's text field as a terminated string: hosts may fill a field to its
// full width without a terminator.
#pragma once

#include <cstddef>
#include <cstring>

namespace dlmgr {

template <size_t Width>
struct FieldText {
    explicit FieldText(const char (&field)[Width]) noexcept {
        std::memcpy(text, field, Width);
        text[Width] = '\0';
    }
    char text[Width + 1];
};

}  // namespace dlmgr
