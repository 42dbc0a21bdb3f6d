#include "tools/dlmgrctl/table_reader.h"

#include <windows.h>

#include <cstdio>

#include "store/task_store.h"
#include "tools/dlmgrctl/module_loading.h"
#include "tools/dlmgrctl/task_listing.h"

namespace dlmgrctl {

namespace {

dlmgr::UniqueMapping OpenTable() {
    return dlmgr::UniqueMapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, dlmgr::kStoreMappingName));
}

StoreReport ReadStored() {
    std::string bytes;
    ReadFileBytes(DefaultDataFile(), bytes);  // no file: no tasks
    return InspectStore(bytes);
}

}  // namespace

TableReader::TableReader() { Refresh(); }

void TableReader::Refresh() {
    if (live()) return;
    hold_ = OpenTable();
    if (live()) {
        RequireModule();
        return;
    }
    // No file reads as unchanged from nothing read: no tasks.
    WIN32_FILE_ATTRIBUTE_DATA now = {};
    ::GetFileAttributesExA(DefaultDataFile().c_str(), GetFileExInfoStandard, &now);
    if (::CompareFileTime(&now.ftLastWriteTime, &storedAs_.ftLastWriteTime) == 0 &&
        now.nFileSizeLow == storedAs_.nFileSizeLow) {
        return;
    }
    storedAs_ = now;
    stored_ = ReadStored();
}

unsigned TableReader::Counter(int category) const {
    if (live()) return DM_GetTimeStamp(category);
    return stored_.header.timeStamp[dlmgr::ReduceCategory(category)];
}

std::vector<TaskRecord> TableReader::Tasks(int category) const {
    if (live()) return CopyTasks(category);
    std::vector<TaskRecord> tasks;
    for (const TaskRecord& record : stored_.records) {
        if (dlmgr::CategoryOfStatus(record.status) == dlmgr::ReduceCategory(category)) {
            tasks.push_back(record);
        }
    }
    return tasks;
}

std::string LoadModuleForAChange() {
    const TableReader before;
    if (before.live()) return "";  // loaded, and never first
    const size_t stored = before.Tasks(0).size() + before.Tasks(1).size();
    RequireModule();  // its start-up maps the table first
    const size_t kept = CopyTasks(0).size() + CopyTasks(1).size();
    if (stored <= kept) return "";
    return "no host had the table open, so loading the module purged it: " +
           std::to_string(stored - kept) + " task(s) that were not paused were dropped";
}

void SayWhatTheLoadPurged() {
    const std::string purged = LoadModuleForAChange();
    if (!purged.empty()) std::fprintf(stderr, "dlmgrctl: %s\n", purged.c_str());
}

}  // namespace dlmgrctl
