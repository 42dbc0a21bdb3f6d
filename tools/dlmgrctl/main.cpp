// dlmgrctl: a console host of dlmgr.dll. It links the DLL through a
// delay-load import library, so inspect, lock, log and config run without
// loading it.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iterator>
#include <string>
#include <vector>

#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/module_loading.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/patience.h"

using namespace dlmgrctl;

namespace {

const char* const kCommands[] = {"list",    "watch", "set", "open", "resume", "again",  "delete",
                                 "inspect", "lock",  "log", "config", "hold", "host", "help", "version"};

std::string UnknownCommand(const std::string& command) {
    return "unknown command " + command +
           DidYouMean(command, std::vector<std::string>(std::begin(kCommands), std::end(kCommands)));
}

bool IsKnownCommand(const std::string& word) {
    return std::find(std::begin(kCommands), std::end(kCommands), word) != std::end(kCommands);
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
        if (command == "host") return RunHost(words);
        throw UsageError(UnknownCommand(command));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n(dlmgrctl --help for usage)\n", error.what());
        return kExitUsage;
    } catch (const InputError& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n", error.what());
        return kExitUsage;
    } catch (const LibraryError& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n", error.what());
        return kExitNoLibrary;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n", error.what());
        return kExitRefused;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // Global options go before or after the command.
    long timeout = -1;
    try {
        timeout = TakeTimeout(args);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n(dlmgrctl --help for usage)\n", error.what());
        return kExitUsage;
    }
    if (args.empty()) {
        std::fputs(HelpText(""), stderr);
        return kExitUsage;
    }
    try {
        if (args[0] == "--version" || args[0] == "-v" || args[0] == "version") {
            Options(Words(args.begin() + 1, args.end()), {}, {}).AtMostPositionals(0);
            std::string problem;
            std::fputs(VersionText(problem).c_str(), stdout);
            if (problem.empty()) return kExitDone;
            std::fflush(stdout);
            std::fprintf(stderr, "dlmgrctl: %s\n", problem.c_str());
            return kExitNoLibrary;
        }
        if (IsHelp(args[0]) || args[0] == "help") {
            const std::string topic = args.size() > 1 && args[0] == "help" ? args[1] : "";
            if (args.size() > 2) throw UsageError("help takes one command");
            if (!topic.empty() && !IsKnownCommand(topic)) {
                throw UsageError("no help on " + topic + ": " + UnknownCommand(topic));
            }
            std::fputs(HelpText(topic), stdout);
            return kExitDone;
        }
    } catch (const UsageError& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n(dlmgrctl --help for usage)\n", error.what());
        return kExitUsage;
    }
    const std::string command = args[0];
    Words words(args.begin() + 1, args.end());
    if (std::any_of(words.begin(), words.end(), IsHelp)) {
        std::fputs(HelpText(command), stdout);
        return kExitDone;
    }
    return RunPatiently([&] { return Dispatch(command, words); }, timeout);
}
