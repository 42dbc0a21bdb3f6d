#include "tools/dlmgrctl/log_gloss.h"

#include <cctype>

#include "log/messages.h"

namespace dlmgrctl {

namespace {

// Matches text against a printf format of %s, %d, %u and %lu only, and
// collects what each conversion matched.
bool Matches(const char* format, const char* text, std::vector<std::string>& values) {
    if (*format == '\0') return *text == '\0';
    if (*format != '%') return *format == *text && Matches(format + 1, text + 1, values);
    const char* spec = format + 1;
    if (*spec == 'l') ++spec;
    const char* rest = spec + 1;
    if (*spec == 's') {
        // Any text, the shortest that lets the rest match first.
        for (const char* end = text;; ++end) {
            values.emplace_back(text, end);
            if (Matches(rest, end, values)) return true;
            values.pop_back();
            if (*end == '\0') return false;
        }
    }
    const char* end = text;
    if (*spec == 'd' && *end == '-') ++end;
    while (std::isdigit(static_cast<unsigned char>(*end))) ++end;
    if (end == text || (end == text + 1 && *text == '-')) return false;
    values.emplace_back(text, end);
    if (Matches(rest, end, values)) return true;
    values.pop_back();
    return false;
}

std::string Fill(const char* english, const std::vector<std::string>& values) {
    std::string text;
    size_t next = 0;
    for (const char* c = english; *c != '\0'; ++c) {
        if (*c != '%') {
            text += *c;
            continue;
        }
        if (c[1] == 'l') ++c;
        ++c;
        if (next < values.size()) text += values[next++];
    }
    return text;
}

}  // namespace

bool ParseLogMessage(const std::string& message, LogMessage& parsed) {
    for (const dlmgr::messages::Gloss& gloss : dlmgr::messages::kGlosses) {
        std::vector<std::string> values;
        if (Matches(gloss.message, message.c_str(), values)) {
            parsed = {gloss.message, gloss.english, values};
            return true;
        }
    }
    return false;
}

std::string EnglishOf(const LogMessage& parsed) { return Fill(parsed.english, parsed.values); }

std::string EnglishOf(const std::string& message) {
    LogMessage parsed;
    return ParseLogMessage(message, parsed) ? EnglishOf(parsed) : "";
}

}  // namespace dlmgrctl
