// The figures of one benchmark run, printed as a table or as JSON: each
// figure is a median with its spread, each ratio is taken within one
// repetition and may carry the target it is measured against.
#pragma once

#include <string>
#include <vector>

#include "tools/bench/side_by_side.h"

namespace bench {

class Report {
public:
    void Section(const std::string& title) { current_ = title; }
    // target 0: none; otherwise the figure should be at most target.
    void Figure(const std::string& name, const std::string& unit, const Spread& spread,
                double target = 0);
    // target 0: none; otherwise the ratio should be at most target.
    void Ratio(const std::string& name, const Spread& spread, double target = 0);
    void Note(const std::string& text) { notes_.push_back(text); }
    void Print(bool json) const;

private:
    struct Line {
        std::string section, name, unit;
        Spread spread;
        bool ratio;
        double target;
    };
    std::string current_;
    std::vector<Line> lines_;
    std::vector<std::string> notes_;
};

}  // namespace bench
