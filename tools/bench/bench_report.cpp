#include "tools/bench/bench_report.h"

#include <cstdio>

namespace bench {

namespace {

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

void Report::Figure(const std::string& name, const std::string& unit, const Spread& spread,
                    double target) {
    lines_.push_back({current_, name, unit, spread, false, target});
}

void Report::Ratio(const std::string& name, const Spread& spread, double target) {
    lines_.push_back({current_, name, "x", spread, true, target});
}

void Report::Print(bool json) const {
    if (json) {
        std::printf("{\"figures\":[");
        for (size_t i = 0; i < lines_.size(); ++i) {
            const Line& line = lines_[i];
            std::printf("%s{\"section\":%s,\"name\":%s,\"unit\":%s,\"median\":%.4g,\"low\":%.4g,"
                        "\"high\":%.4g",
                        i ? "," : "", Quoted(line.section).c_str(), Quoted(line.name).c_str(),
                        Quoted(line.unit).c_str(), line.spread.median, line.spread.low,
                        line.spread.high);
            if (line.target > 0) {
                std::printf(",\"target\":%.4g,\"met\":%s", line.target,
                            line.spread.median <= line.target ? "true" : "false");
            }
            std::printf("}");
        }
        std::printf("],\"notes\":[");
        for (size_t i = 0; i < notes_.size(); ++i) {
            std::printf("%s%s", i ? "," : "", Quoted(notes_[i]).c_str());
        }
        std::printf("]}\n");
        return;
    }
    std::string section;
    for (const Line& line : lines_) {
        if (line.section != section) {
            section = line.section;
            std::printf("\n%s\n", section.c_str());
        }
        std::printf("  %-46s %10.2f %-3s (%.2f .. %.2f)", line.name.c_str(), line.spread.median,
                    line.unit.c_str(), line.spread.low, line.spread.high);
        if (line.target > 0) {
            std::printf("  target <= %.2f: %s", line.target,
                        line.spread.median <= line.target ? "met" : "MISSED");
        }
        std::printf("\n");
    }
    if (!notes_.empty()) std::printf("\n");
    for (const std::string& note : notes_) std::printf("%s\n", note.c_str());
}

}  // namespace bench
