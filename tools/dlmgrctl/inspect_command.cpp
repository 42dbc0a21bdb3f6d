#include <windows.h>

#include <cstdio>

#include "store/task_store.h"
#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/store_inspection.h"
#include "tools/dlmgrctl/system_error.h"
#include "tools/dlmgrctl/table_backing.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {

namespace {

// notSaved: about the live table, when the user's own data file is inspected.
void PrintJson(const std::string& path, const StoreReport& report, const std::string& notSaved) {
    std::string json = "{\"path\":" + JsonString(path) +
                       ",\"size\":" + std::to_string(report.fileSize) +
                       ",\"magic\":" + std::to_string(report.header.magic) +
                       ",\"changeCounters\":{\"running\":" + std::to_string(report.header.timeStamp[0]) +
                       ",\"stopped\":" + std::to_string(report.header.timeStamp[1]) +
                       "},\"taskCount\":" + std::to_string(report.header.taskCount) +
                       ",\"full\":" + (TableIsFull(report.records.size()) ? "true" : "false") +
                       ",\"notSaved\":" + (notSaved.empty() ? "null" : JsonString(notSaved)) +
                       ",\"problems\":[";
    for (size_t i = 0; i < report.problems.size(); ++i) {
        json += (i ? "," : "") + JsonString(report.problems[i]);
    }
    json += "],\"tasks\":[";
    for (size_t i = 0; i < report.records.size(); ++i) {
        json += std::string(i ? "," : "") + "{\"index\":" + std::to_string(i) + "," +
                TaskJsonMembers(report.records[i]) + "}";
    }
    std::printf("%s]}\n", json.c_str());
}

void PrintText(const std::string& path, const StoreReport& report, const std::string& notSaved) {
    std::printf("data file: %s\n", path.c_str());
    std::printf("size %lld bytes, magic %u, task count %u, counters running %u, stopped %u\n",
                report.fileSize, report.header.magic, report.header.taskCount,
                report.header.timeStamp[0], report.header.timeStamp[1]);
    if (TableIsFull(report.records.size())) std::printf("%s\n", kTableFull);
    if (!notSaved.empty()) std::printf("%s\n", notSaved.c_str());
    if (report.problems.empty()) {
        std::printf("checks: all passed\n");
    } else {
        std::printf("checks: %u problem(s)\n", static_cast<unsigned>(report.problems.size()));
        for (const auto& problem : report.problems) std::printf("  - %s\n", problem.c_str());
    }
    if (!report.records.empty()) std::printf("%s\n", TaskTableHeader().c_str());
    for (size_t i = 0; i < report.records.size(); ++i) {
        std::printf("%s\n", TaskRow(i, report.records[i]).c_str());
    }
}

}  // namespace

int RunInspect(const Words& words) {
    const Options options(words, {}, {"json"});
    options.AtMostPositionals(1);
    const bool own = options.positionals().empty();
    const std::string path = own ? DefaultDataFile() : options.positionals()[0];
    // What hosts share may not be this file; said only of the user's own.
    const std::string notSaved = own ? TableNotSaved(path) : "";
    std::string bytes;
    long long size = 0;
    // At most a table's worth: a file of the wrong size is said to be so,
    // not read through.
    if (!ReadFileStart(path, sizeof(dlmgr::StoreBlock), bytes, &size)) {
        const DWORD error = ::GetLastError();
        const std::string also = notSaved.empty() ? "" : "; " + notSaved;
        if (own && notSaved.empty() && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
            throw InputError("no host has run for this user yet: " + path + " does not exist" + also);
        }
        throw InputError("cannot read " + path + ": " + SystemErrorText(error) + also);
    }
    const StoreReport report = InspectStore(bytes, size);
    if (options.Has("json")) {
        PrintJson(path, report, notSaved);
    } else {
        PrintText(path, report, notSaved);
    }
    return report.problems.empty() ? kExitDone : kExitRefused;
}

}  // namespace dlmgrctl
