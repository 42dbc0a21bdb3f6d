#include <cstdio>
#include <cstring>
#include <optional>

#include "tools/dlmgrctl/action_refusal.h"
#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/table_reader.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {

namespace {

// Copies text into a field, refusing text that would not leave room for its
// terminator.
template <size_t Width>
void FillField(char (&field)[Width], const std::string& text, const char* option) {
    if (text.size() >= Width) {
        throw UsageError(std::string("--") + option + " is " + std::to_string(text.size()) +
                         " characters; at most " + std::to_string(Width - 1) + " fit");
    }
    std::memcpy(field, text.c_str(), text.size() + 1);
}

}  // namespace

int RunSet(const Words& words) {
    const Options options(words, {"id", "kind", "status", "file", "torrent", "source"},
                          {"any-status"});
    options.AtMostPositionals(0);
    TaskRecord record;
    std::memset(&record, 0, sizeof(record));

    const auto id = ParseTaskId(options.Require("id"));
    if (!id) throw UsageError("--id takes 32 hexadecimal digits: the id's 16 bytes in memory order");
    record.id = *id;
    const auto kind = ParseKind(options.Require("kind"));
    if (!kind) throw UsageError("--kind takes engine, torrent or a number");
    record.kind = *kind;
    const auto status = ParseStatus(options.Require("status"));
    if (!status) {
        throw UsageError("--status takes a number or one of running, completed, paused, stopped, "
                         "running-4, running-5, running-6, closed");
    }
    if ((*status < 0 || *status > 7) && !options.Has("any-status")) {
        throw UsageError("--status " + std::to_string(*status) +
                         " is none of 0..7; add --any-status to register it anyway");
    }
    record.status = *status;
    FillField(record.filePath, options.Require("file"), "file");
    FillField(record.torrentName, options.Get("torrent"), "torrent");
    FillField(record.source, options.Get("source"), "source");

    SayWhatTheLoadPurged();
    if (!DM_SetTaskInfo(&record)) {
        std::fprintf(stderr, "dlmgrctl: cannot register %s: %s\n", FormatId(record.id).c_str(),
                     WhyRegistrationFailed().c_str());
        return kExitRefused;
    }
    std::printf("registered %s as %s\n", FormatId(record.id).c_str(),
                StatusText(record.status).c_str());
    return kExitDone;
}

int RunAction(const std::string& action, const Words& words) {
    const Options options(words, {}, {});
    if (options.positionals().size() != 1) throw UsageError(action + " takes one task id");
    const auto id = ParseTaskId(options.positionals()[0]);
    if (!id) throw UsageError("a task id is 32 hexadecimal digits");

    SayWhatTheLoadPurged();
    const std::string refused = PerformAction(action, *id);
    if (!refused.empty()) {
        std::fprintf(stderr, "dlmgrctl: cannot %s %s: %s\n", action.c_str(),
                     options.positionals()[0].c_str(), refused.c_str());
        return kExitRefused;
    }
    std::printf("%s %s: done\n", action.c_str(), options.positionals()[0].c_str());
    return kExitDone;
}

}  // namespace dlmgrctl
