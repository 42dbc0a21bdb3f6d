// dlmgrctl: a console host of dlmgr.dll. It links the DLL through a
// delay-load import library, so inspect and lock run without loading it.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/options.h"

using namespace dlmgrctl;

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "help") {
        std::fputs(HelpText(""), args.empty() ? stderr : stdout);
        return args.empty() ? kExitUsage : kExitDone;
    }
    const std::string& command = args[0];
    const Words words(args.begin() + 1, args.end());
    for (const auto& word : words) {
        if (word == "--help") {
            std::fputs(HelpText(command), stdout);
            return kExitDone;
        }
    }
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
        throw UsageError("unknown command " + command);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n(dlmgrctl --help for usage)\n", error.what());
        return kExitUsage;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "dlmgrctl: %s\n", error.what());
        return kExitRefused;
    }
}
