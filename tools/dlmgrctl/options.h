// Command-line words of one dlmgrctl command: positionals, "--name value" (or
// "--name=value") options and "--flag" switches, each checked against what
// the command knows.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace dlmgrctl {

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoLibrary = 3;

// Bad usage: the message is printed with a hint to the help, and the tool
// exits with 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Input the command cannot use (a file it cannot read): exit code 2 too, but
// no hint, since the usage was right.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "; did you mean X?" for the known word closest to word, or empty when none
// is within two edits.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& known);

class Options {
public:
    // valued: options that take a value; flags: options that do not.
    Options(const std::vector<std::string>& words, const std::set<std::string>& valued,
            const std::set<std::string>& flags);

    const std::vector<std::string>& positionals() const { return positionals_; }
    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    std::string Get(const std::string& name, const std::string& fallback = "") const;
    std::string Require(const std::string& name) const;
    // A whole number within [minimum, maximum].
    long Number(const std::string& name, long fallback, long minimum, long maximum) const;
    void AtMostPositionals(size_t count) const;

private:
    std::vector<std::string> positionals_;
    std::map<std::string, std::string> values_;
};

}  // namespace dlmgrctl
