#include <windows.h>

#include <cstdio>

#include "tools/dlmgrctl/commands.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/task_changes.h"
#include "tools/dlmgrctl/table_reader.h"

namespace dlmgrctl {

namespace {

volatile LONG stopRequested = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
    ::InterlockedExchange(&stopRequested, 1);
    return TRUE;
}

std::vector<TaskRecord> Snapshot(const TableReader& table) {
    std::vector<TaskRecord> all = table.Tasks(0);
    const auto stopped = table.Tasks(1);
    all.insert(all.end(), stopped.begin(), stopped.end());
    return all;
}

}  // namespace

int RunWatch(const Words& words) {
    const Options options(words, {"interval", "count"}, {});
    options.AtMostPositionals(0);
    const long interval = options.Number("interval", 500, 10, 60000);
    const long wanted = options.Number("count", 0, 0, 1000000);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    TableReader table;
    unsigned stamps[2] = {table.Counter(0), table.Counter(1)};
    std::vector<TaskRecord> tasks = Snapshot(table);
    for (const std::string& note : table.Notes(tasks.size())) {
        std::fprintf(stderr, "dlmgrctl: %s\n", note.c_str());
    }
    if (!table.live()) std::fprintf(stderr, "dlmgrctl: watching the file until a host opens it\n");
    std::printf("watching %u tasks (counters running %u, stopped %u)\n",
                static_cast<unsigned>(tasks.size()), stamps[0], stamps[1]);
    std::fflush(stdout);

    long seen = 0;
    while (!stopRequested && (wanted == 0 || seen < wanted)) {
        ::Sleep(static_cast<DWORD>(interval));
        table.Refresh();
        const unsigned now[2] = {table.Counter(0), table.Counter(1)};
        if (now[0] == stamps[0] && now[1] == stamps[1]) continue;
        std::vector<TaskRecord> current = Snapshot(table);
        std::printf("counters running %u -> %u, stopped %u -> %u\n", stamps[0], now[0], stamps[1],
                    now[1]);
        for (const auto& change : DiffTasks(tasks, current)) {
            std::printf("  %s\n", DescribeChange(change).c_str());
        }
        std::fflush(stdout);
        stamps[0] = now[0];
        stamps[1] = now[1];
        tasks.swap(current);
        ++seen;
    }
    return kExitDone;
}

}  // namespace dlmgrctl
