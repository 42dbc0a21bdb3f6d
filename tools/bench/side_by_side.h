// Figures measured side by side: in each repetition every alternative runs
// once, in turn, so that a noisy moment of a shared machine hits them alike;
// each figure is the median over the repetitions, and each ratio the median
// of the ratios taken within one repetition.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace bench {

struct Spread {
    double median = 0;
    double low = 0;   // smallest
    double high = 0;  // largest
};

inline Spread SpreadOf(std::vector<double> values) {
    Spread spread;
    if (values.empty()) return spread;
    std::sort(values.begin(), values.end());
    spread.median = values[values.size() / 2];
    spread.low = values.front();
    spread.high = values.back();
    return spread;
}

inline Spread Scaled(Spread spread, double factor) {
    spread.median *= factor;
    spread.low *= factor;
    spread.high *= factor;
    return spread;
}

inline LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

inline double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

// Nanoseconds per call of body, called `calls` times in a loop the compiler
// can inline (no indirect call per iteration).
template <typename Body>
double NanosecondsPerCall(Body& body, int calls) {
    LARGE_INTEGER start, stop;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < calls; ++i) body();
    ::QueryPerformanceCounter(&stop);
    return 1e9 * Seconds(start, stop) / calls;
}

// One measured alternative: a name and, per repetition, its figure.
struct Series {
    std::string name;
    std::vector<double> values;
};

// Figures of alternatives measured in the same repetitions.
class SideBySide {
public:
    explicit SideBySide(std::vector<std::string> names) {
        for (auto& name : names) series_.push_back({std::move(name), {}});
    }
    void Add(size_t alternative, double value) { series_[alternative].values.push_back(value); }
    const Series& operator[](size_t alternative) const { return series_[alternative]; }
    size_t size() const { return series_.size(); }
    Spread Figure(size_t alternative) const { return SpreadOf(series_[alternative].values); }
    // Median over repetitions of values[a] / values[b] in the same repetition.
    Spread Ratio(size_t a, size_t b) const {
        std::vector<double> ratios;
        const auto& x = series_[a].values;
        const auto& y = series_[b].values;
        for (size_t r = 0; r < x.size() && r < y.size(); ++r) {
            if (y[r] > 0) ratios.push_back(x[r] / y[r]);
        }
        return SpreadOf(ratios);
    }

private:
    std::vector<Series> series_;
};

}  // namespace bench
