#include "api/command_line_text.h"

namespace dlmgr {

bool HoldsQuote(const char* field, size_t width) noexcept {
    for (size_t i = 0; i < width && field[i] != '\0'; ++i) {
        if (field[i] == '"') return true;
    }
    return false;
}

bool IsOneWord(const char* field, size_t width) noexcept {
    for (size_t i = 0; i < width && field[i] != '\0'; ++i) {
        const auto byte = static_cast<unsigned char>(field[i]);
        if (byte == '"' || byte == ' ' || byte < 32) return false;
    }
    return true;
}

}  // namespace dlmgr
