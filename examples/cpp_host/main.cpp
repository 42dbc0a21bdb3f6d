// A C++ host of dlmgr.dll: registers a task, notices the change through the
// change counters, lists both categories and cleans up.
#include <dlmgr.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The listing protocol: the count locks the store for this thread and the
// copy unlocks it, so nothing that can fail or wait comes between them. The
// buffer is therefore allocated first, for the largest table.
std::vector<TaskRecord> ListTasks(int category) {
    std::vector<TaskRecord> tasks(DLMGR_MAX_TASKS);
    const unsigned count = DM_GetTaskCount(category);
    if (!DM_GetTaskInfo(tasks.data())) return {};
    tasks.resize(count);
    return tasks;
}

struct Counters {
    unsigned running = DM_GetTimeStamp(DLMGR_CATEGORY_RUNNING);
    unsigned stopped = DM_GetTimeStamp(DLMGR_CATEGORY_STOPPED);
    bool operator==(const Counters& other) const {
        return running == other.running && stopped == other.stopped;
    }
};

}  // namespace

int main() {
    const Counters before;

    TaskRecord record{};
    record.id.bytes[0] = 0x5e;
    record.kind = DLMGR_KIND_ENGINE;
    record.status = DLMGR_STATUS_PAUSED;
    std::strcpy(record.filePath, "C:\\downloads\\example.iso");
    if (!DM_SetTaskInfo(&record)) {
        std::printf("cpp host: the table is full\n");
        return 1;
    }

    // Hosts poll the counters cheaply and list only when one moved.
    if (Counters() == before) {
        std::printf("cpp host: no counter moved\n");
        return 1;
    }
    const auto running = ListTasks(DLMGR_CATEGORY_RUNNING);
    const auto stopped = ListTasks(DLMGR_CATEGORY_STOPPED);
    bool found = false;
    for (const TaskRecord& task : stopped) {
        found = found || std::memcmp(&task.id, &record.id, sizeof(TaskId)) == 0;
    }
    DM_DeleteTask(&record.id);
    std::printf("cpp host: %s; %zu running, %zu stopped\n",
                found ? "found its task" : "task missing", running.size(), stopped.size());
    return found ? 0 : 1;
}
