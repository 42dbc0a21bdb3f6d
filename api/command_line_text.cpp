#include "api/command_line_text.h"

#include <windows.h>

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

bool EndsInLeadByte(const char* field, size_t width) noexcept {
    size_t i = 0;
    while (i < width && field[i] != '\0') {
        if (!::IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(field[i]))) {
            ++i;
        } else if (i + 1 < width && field[i + 1] != '\0') {
            i += 2;  // a whole double-byte character
        } else {
            return true;
        }
    }
    return false;
}

}  // namespace dlmgr
