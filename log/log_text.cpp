#include "log/log_text.h"

#include "log/bounded_format.h"

namespace dlmgr {

void EscapeForLog(const char* text, size_t width, char* out) noexcept {
    size_t used = 0;
    for (size_t i = 0; i < width && text[i] != '\0'; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 32) {
            out[used++] = text[i];
            continue;
        }
        out[used++] = '\\';
        switch (byte) {
            case '\r': out[used++] = 'r'; break;
            case '\n': out[used++] = 'n'; break;
            case '\t': out[used++] = 't'; break;
            default:
                FormatBounded(out + used, 4, "x%02x", byte);
                used += 3;
                break;
        }
    }
    out[used] = '\0';
}

}  // namespace dlmgr
