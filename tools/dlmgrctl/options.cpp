#include "tools/dlmgrctl/options.h"

#include <algorithm>
#include <cstdlib>

namespace dlmgrctl {

namespace {

size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string DidYouMean(const std::string& word, const std::vector<std::string>& known) {
    std::string best;
    size_t bestDistance = 3;
    for (const std::string& candidate : known) {
        const size_t distance = Distance(word, candidate);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best.empty() ? "" : "; did you mean " + best + "?";
}

Options::Options(const std::vector<std::string>& words, const std::set<std::string>& valued,
                 const std::set<std::string>& flags) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 2 || word.compare(0, 2, "--") != 0) {
            positionals_.push_back(word);
            continue;
        }
        // "--name value" or "--name=value".
        const size_t equals = word.find('=');
        const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        if (flags.count(name) && equals == std::string::npos) {
            values_[name] = "";
        } else if (valued.count(name)) {
            if (equals != std::string::npos) {
                values_[name] = word.substr(equals + 1);
            } else if (i + 1 >= words.size()) {
                throw UsageError("--" + name + " needs a value");
            } else {
                values_[name] = words[++i];
            }
        } else {
            if (flags.count(name)) throw UsageError("--" + name + " takes no value");
            std::vector<std::string> known;
            for (const auto& option : valued) known.push_back("--" + option);
            for (const auto& option : flags) known.push_back("--" + option);
            known.push_back("--timeout");
            known.push_back("--help");
            throw UsageError("unknown option " + word + DidYouMean("--" + name, known));
        }
    }
}

std::string Options::Get(const std::string& name, const std::string& fallback) const {
    auto found = values_.find(name);
    return found == values_.end() ? fallback : found->second;
}

std::string Options::Require(const std::string& name) const {
    if (!Has(name)) throw UsageError("--" + name + " is required");
    return Get(name);
}

long Options::Number(const std::string& name, long fallback, long minimum, long maximum) const {
    if (!Has(name)) return fallback;
    const std::string text = Get(name);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < minimum || value > maximum) {
        throw UsageError("--" + name + " takes a whole number from " + std::to_string(minimum) +
                         " to " + std::to_string(maximum));
    }
    return value;
}

void Options::AtMostPositionals(size_t count) const {
    if (positionals_.size() > count) throw UsageError("unexpected argument " + positionals_[count]);
}

}  // namespace dlmgrctl
