#include <cstdio>

#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/table_reader.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {

namespace {

void PrintTable(int category, const std::vector<TaskRecord>& tasks) {
    std::printf("%s tasks: %u\n", CategoryName(category), static_cast<unsigned>(tasks.size()));
    if (tasks.empty()) return;
    std::printf("%s\n", TaskTableHeader().c_str());
    for (size_t i = 0; i < tasks.size(); ++i) std::printf("%s\n", TaskRow(i, tasks[i]).c_str());
}

std::string TaskJson(int category, size_t index, const TaskRecord& task) {
    return "{\"category\":\"" + std::string(CategoryName(category)) +
           "\",\"index\":" + std::to_string(index) + "," + TaskJsonMembers(task) + "}";
}

}  // namespace

int RunList(const Words& words) {
    const Options options(words, {}, {"json"});
    options.AtMostPositionals(1);
    const std::string which = options.positionals().empty() ? "all" : options.positionals()[0];
    std::vector<int> categories;
    if (which == "running") categories = {0};
    else if (which == "stopped") categories = {1};
    else if (which == "all") categories = {0, 1};
    else throw UsageError("list takes running, stopped or all, not " + which);

    const TableReader table;
    const unsigned running = table.Counter(0);
    const unsigned stopped = table.Counter(1);
    const std::vector<TaskRecord> tasks[2] = {table.Tasks(0), table.Tasks(1)};
    const size_t all = tasks[0].size() + tasks[1].size();
    for (const std::string& note : table.Notes(all)) std::fprintf(stderr, "dlmgrctl: %s\n", note.c_str());
    if (options.Has("json")) {
        std::string json = "{\"changeCounters\":{\"running\":" + std::to_string(running) +
                           ",\"stopped\":" + std::to_string(stopped) +
                           "},\"full\":" + (TableIsFull(all) ? "true" : "false") + ",\"tasks\":[";
        bool first = true;
        for (int category : categories) {
            for (size_t i = 0; i < tasks[category].size(); ++i) {
                json += (first ? "" : ",") + TaskJson(category, i, tasks[category][i]);
                first = false;
            }
        }
        std::printf("%s]}\n", json.c_str());
        return kExitDone;
    }
    std::printf("change counters: running %u, stopped %u\n", running, stopped);
    for (int category : categories) PrintTable(category, tasks[category]);
    return kExitDone;
}

}  // namespace dlmgrctl
