#include "tools/dlmgrctl/task_text.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log/log_text.h"
#include "store/task_id.h"

namespace dlmgrctl {

namespace {

constexpr const char* kStatusNames[8] = {"running",   "completed", "paused",    "stopped",
                                         "running-4", "running-5", "running-6", "closed"};

// A whole number that fits an int (the record's fields); nothing otherwise.
std::optional<int> ParseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || value < INT_MIN || value > INT_MAX) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

const char* StatusName(int status) {
    return status >= 0 && status < 8 ? kStatusNames[status] : "unknown";
}

const char* CategoryName(int category) { return category == 0 ? "running" : "stopped"; }

const char* KindName(int kind) {
    switch (kind) {
        case DLMGR_KIND_ENGINE: return "engine";
        case DLMGR_KIND_TORRENT: return "torrent";
        default: return "other";
    }
}

std::optional<int> ParseStatus(const std::string& text) {
    for (int status = 0; status < 8; ++status) {
        if (::lstrcmpiA(text.c_str(), kStatusNames[status]) == 0) return status;
    }
    return ParseNumber(text);
}

std::optional<int> ParseKind(const std::string& text) {
    if (::lstrcmpiA(text.c_str(), "engine") == 0) return DLMGR_KIND_ENGINE;
    if (::lstrcmpiA(text.c_str(), "torrent") == 0) return DLMGR_KIND_TORRENT;
    return ParseNumber(text);
}

std::optional<TaskId> ParseTaskId(const std::string& text) {
    if (text.size() != 2 * sizeof(TaskId::bytes)) return std::nullopt;
    TaskId id = {};
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        int nibble;
        if (c >= '0' && c <= '9') nibble = c - '0';
        else if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
        else return std::nullopt;
        id.bytes[i / 2] = static_cast<unsigned char>(id.bytes[i / 2] << 4 | nibble);
    }
    return id;
}

std::string FormatId(const TaskId& id) {
    char text[2 * sizeof(id.bytes) + 1];
    for (size_t i = 0; i < sizeof(id.bytes); ++i) {
        std::snprintf(text + 2 * i, 3, "%02x", id.bytes[i]);
    }
    return text;
}

std::string FieldString(const char* field, size_t width) {
    return std::string(field, ::strnlen(field, width));
}

std::string ShownField(const char* field, size_t width) {
    std::vector<char> shown(4 * width + 1);
    dlmgr::EscapeForLog(field, width, shown.data());
    return shown.data();
}

std::string JsonString(const std::string& ansiText) {
    std::string utf8;
    if (!ansiText.empty()) {
        const int wideLength = ::MultiByteToWideChar(CP_ACP, 0, ansiText.data(),
                                                     static_cast<int>(ansiText.size()), nullptr, 0);
        std::vector<wchar_t> wide(wideLength);
        ::MultiByteToWideChar(CP_ACP, 0, ansiText.data(), static_cast<int>(ansiText.size()),
                              wide.data(), wideLength);
        const int length =
            ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
        utf8.resize(length);
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], length, nullptr,
                              nullptr);
    }
    std::string json = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
            case '"': json += "\\\""; break;
            case '\\': json += "\\\\"; break;
            case '\n': json += "\\n"; break;
            case '\r': json += "\\r"; break;
            case '\t': json += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                    json += escaped;
                } else {
                    json += static_cast<char>(c);
                }
        }
    }
    return json + "\"";
}

std::string StatusText(int status) { return std::to_string(status) + " " + StatusName(status); }

std::string TaskTableHeader() {
    char row[128];
    std::snprintf(row, sizeof(row), "  %-4s %-32s  %-8s %6s %-10s %s", "#", "id", "kind", "status",
                  "", "file");
    return row;
}

std::string TaskRow(size_t index, const TaskRecord& task) {
    char row[128];
    std::snprintf(row, sizeof(row), "  %-4u %s  %-8s %6d %-10s ", static_cast<unsigned>(index),
                  FormatId(task.id).c_str(), KindName(task.kind), task.status,
                  StatusName(task.status));
    // Escaped, a path may be four times its width.
    return row + ShownField(task.filePath, sizeof(task.filePath));
}

std::string TaskJsonMembers(const TaskRecord& task) {
    return "\"id\":\"" + FormatId(task.id) + "\",\"kind\":" + std::to_string(task.kind) +
           ",\"kindName\":\"" + KindName(task.kind) + "\",\"status\":" +
           std::to_string(task.status) + ",\"statusName\":\"" + StatusName(task.status) +
           "\",\"filePath\":" + JsonString(FieldString(task.filePath, sizeof(task.filePath))) +
           ",\"torrentName\":" + JsonString(FieldString(task.torrentName, sizeof(task.torrentName))) +
           ",\"source\":" + JsonString(FieldString(task.source, sizeof(task.source)));
}

}  // namespace dlmgrctl
