// dlmgrctl: a console host of dlmgr.dll. It links the DLL through a
// delay-load import library, so inspect, lock, log and config run without
// loading it.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/patience.h"

using namespace dlmgrctl;

namespace {

const char* const kCommands[] = {"list", "watch", "set",  "open", "resume", "again",  "delete",
                                 "inspect", "lock", "log", "config", "hold", "help"};

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

std::string UnknownCommand(const std::string& command) {
    std::string best;
    size_t bestDistance = 3;
    for (const char* known : kCommands) {
        const size_t distance = Distance(command, known);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = known;
        }
    }
    return "unknown command " + command + (best.empty() ? "" : "; did you mean " + best + "?");
}

bool IsHelp(const std::string& word) { return word == "--help" || word == "-h"; }

// Takes "--timeout N" or "--timeout=N" out of the words; -1 when absent.
long TakeTimeout(std::vector<std::string>& words) {
    for (size_t i = 0; i < words.size(); ++i) {
        const bool joined = words[i].rfind("--timeout=", 0) == 0;
        if (words[i] != "--timeout" && !joined) continue;
        const auto first = words.begin() + static_cast<long>(i);
        const auto end = first + static_cast<long>(joined ? 1 : std::min<size_t>(2, words.size() - i));
        const Options option(std::vector<std::string>(first, end), {"timeout"}, {});
        words.erase(first, end);
        return option.Number("timeout", -1, 0, 86400);
    }
    return -1;
}

int Dispatch(const std::string& command, const Words& words) {
    try {
        if (command == "list") return RunList(words);
        if (command == "watch") return RunWatch(words);
        if (command == "set") return RunSet(words);
        if (command == "open" || command == "resume" || command == "again" ||
            command == "delete") {
            return RunAction(command, words);
        }
        if (command == "inspect") return RunInspect(words);
        if (command == "lock") return RunLock(words);
        if (command == "log") return RunLog(words);
        if (command == "config") return RunConfig(words);
        if (command == "hold") return RunHold(words);
        throw UsageError(UnknownCommand(command));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n(dlmgrctl --help for usage)\n", error.what());
        return kExitUsage;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n", error.what());
        return kExitRefused;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(HelpText(""), stderr);
        return kExitUsage;
    }
    if (IsHelp(args[0]) || args[0] == "help") {
        std::fputs(HelpText(args.size() > 1 && args[0] == "help" ? args[1] : ""), stdout);
        return kExitDone;
    }
    if (args[0] == "--version") {
        // Which build answers matters when both are installed.
        std::printf("dlmgrctl %s (%d-bit)\n", DLMGR_VERSION, static_cast<int>(sizeof(void*) * 8));
        return kExitDone;
    }
    const std::string command = args[0];
    Words words(args.begin() + 1, args.end());
    if (std::any_of(words.begin(), words.end(), IsHelp)) {
        std::fputs(HelpText(command), stdout);
        return kExitDone;
    }
    long timeout = -1;
    try {
        timeout = TakeTimeout(words);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n", error.what());
        return kExitUsage;
    }
    return RunPatiently([&] { return Dispatch(command, words); }, timeout);
}
