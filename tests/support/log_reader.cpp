#include "tests/support/log_reader.h"

#include <cctype>
#include <cstring>

#include "tests/support/temp_folder.h"

namespace dlmgr::test {

std::vector<LogLine> ReadLogLines(const std::string& path) {
    const std::string content = ReadWholeFile(path);
    std::vector<LogLine> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find("\r\n", start);
        std::string text = content.substr(start, end == std::string::npos ? end : end - start);
        if (end == std::string::npos) text += "<no CRLF>";
        LogLine line;
        line.stamp = text.substr(0, 18);
        line.message = text.size() > 18 ? text.substr(18) : "";
        lines.push_back(line);
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> ReadLogMessages(const std::string& path) {
    std::vector<std::string> messages;
    for (const auto& line : ReadLogLines(path)) messages.push_back(line.message);
    return messages;
}

bool IsLogStamp(const std::string& stamp) {
    static const char* const kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (stamp.size() != 18 || stamp[0] != '[' || stamp[4] != ' ' || stamp[7] != ' ' ||
        stamp[10] != ':' || stamp[13] != ':' || stamp[16] != ']' || stamp[17] != ' ') {
        return false;
    }
    bool monthKnown = false;
    for (int m = 0; m < 12; ++m) monthKnown |= stamp.compare(1, 3, kMonths + 3 * m, 3) == 0;
    for (int i : {5, 6, 8, 9, 11, 12, 14, 15}) {
        if (!std::isdigit(static_cast<unsigned char>(stamp[i]))) return false;
    }
    return monthKnown;
}

}  // namespace dlmgr::test
