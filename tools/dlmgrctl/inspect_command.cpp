#include <windows.h>

#include <cstdio>

#include "store/task_store.h"
#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/store_inspection.h"
#include "tools/dlmgrctl/system_error.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {

namespace {

void PrintJson(const std::string& path, const StoreReport& report) {
    std::string json = "{\"path\":" + JsonString(path) +
                       ",\"size\":" + std::to_string(report.fileSize) +
                       ",\"magic\":" + std::to_string(report.header.magic) +
                       ",\"changeCounters\":{\"running\":" + std::to_string(report.header.timeStamp[0]) +
                       ",\"stopped\":" + std::to_string(report.header.timeStamp[1]) +
                       "},\"taskCount\":" + std::to_string(report.header.taskCount) +
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

void PrintText(const std::string& path, const StoreReport& report) {
    std::printf("data file: %s\n", path.c_str());
    std::printf("size %lld bytes, magic %u, task count %u, counters running %u, stopped %u\n",
                report.fileSize, report.header.magic, report.header.taskCount,
                report.header.timeStamp[0], report.header.timeStamp[1]);
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
    const std::string path =
        options.positionals().empty() ? DefaultDataFile() : options.positionals()[0];
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
        const DWORD error = ::GetLastError();
        if (options.positionals().empty() &&
            (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
            throw InputError("no host has run for this user yet: " + path + " does not exist");
        }
        throw InputError("cannot read " + path + ": " + SystemErrorText(error));
    }
    const StoreReport report = InspectStore(bytes);
    if (options.Has("json")) {
        PrintJson(path, report);
    } else {
        PrintText(path, report);
    }
    return report.problems.empty() ? kExitDone : kExitRefused;
}

}  // namespace dlmgrctl
