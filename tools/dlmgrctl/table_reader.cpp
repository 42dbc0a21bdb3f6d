#include "tools/dlmgrctl/table_reader.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "store/task_store.h"
#include "tools/dlmgrctl/module_loading.h"
#include "tools/dlmgrctl/table_backing.h"
#include "tools/dlmgrctl/task_listing.h"

namespace dlmgrctl {

namespace {

dlmgr::UniqueMapping OpenTable() {
    return dlmgr::UniqueMapping(::OpenFileMappingA(FILE_MAP_READ, FALSE, dlmgr::kStoreMappingName));
}

StoreReport ReadStored() {
    std::string bytes;
    long long size = 0;
    // No file: no tasks.
    if (!ReadFileStart(DefaultDataFile(), sizeof(dlmgr::StoreBlock), bytes, &size)) return {};
    return InspectStore(bytes, size);
}

}  // namespace

TableReader::TableReader() { Refresh(); }

void TableReader::Refresh() {
    if (live()) return;
    hold_ = OpenTable();
    if (live()) {
        try {
            RequireModule();
        } catch (const LibraryError& error) {
            noLibrary_ = error.what();
            unlocked_.reset(::MapViewOfFile(hold_.get(), FILE_MAP_READ, 0, 0, 0));
        }
        return;
    }
    // No file reads as unchanged from nothing read: no tasks.
    WIN32_FILE_ATTRIBUTE_DATA now = {};
    ::GetFileAttributesExA(DefaultDataFile().c_str(), GetFileExInfoStandard, &now);
    if (::CompareFileTime(&now.ftLastWriteTime, &storedAs_.ftLastWriteTime) == 0 &&
        now.nFileSizeLow == storedAs_.nFileSizeLow && now.nFileSizeHigh == storedAs_.nFileSizeHigh) {
        return;
    }
    storedAs_ = now;
    stored_ = ReadStored();
}

unsigned TableReader::Counter(int category) const {
    if (live() && noLibrary_.empty()) return DM_GetTimeStamp(category);
    if (live()) {
        const auto* block = static_cast<const dlmgr::StoreBlock*>(unlocked_.get());
        return block != nullptr ? dlmgr::ReadChangeCounter(block->header, dlmgr::ReduceCategory(category)) : 0;
    }
    return stored_.header.timeStamp[dlmgr::ReduceCategory(category)];
}

std::vector<TaskRecord> TableReader::Tasks(int category) const {
    if (live() && noLibrary_.empty()) return CopyTasks(category);
    std::vector<TaskRecord> records = stored_.records;
    if (live()) {
        records.clear();
        const auto* block = static_cast<const dlmgr::StoreBlock*>(unlocked_.get());
        if (block != nullptr) {
            records.assign(block->records, block->records + dlmgr::TasksInUse(block->header));
        }
    }
    std::vector<TaskRecord> tasks;
    for (const TaskRecord& record : records) {
        if (dlmgr::CategoryOfStatus(record.status) == dlmgr::ReduceCategory(category)) {
            tasks.push_back(record);
        }
    }
    return tasks;
}

std::vector<std::string> TableReader::Notes(std::size_t tasks) const {
    std::vector<std::string> notes;
    if (!live()) {
        notes.push_back(kShownAsStored);
        for (const std::string& problem : stored_.problems) notes.push_back("dlmgr.dat: " + problem);
    } else if (!noLibrary_.empty()) {
        notes.push_back(noLibrary_ + "; shown from the shared table without its lock, so a "
                        "change under way may show half made");
    }
    if (TableIsFull(tasks)) notes.push_back(kTableFull);
    const std::string notSaved = live() ? TableNotSaved(DefaultDataFile()) : "";
    if (!notSaved.empty()) notes.push_back(notSaved);
    return notes;
}

std::string LoadModuleForAChange() {
    const TableReader before;
    if (before.live()) {
        RequireModule();  // loaded, and never first
        return "";
    }
    const size_t stored = before.Tasks(0).size() + before.Tasks(1).size();
    RequireModule();  // its start-up maps the table first
    const size_t kept = CopyTasks(0).size() + CopyTasks(1).size();
    if (stored <= kept) return "";
    return "no host had the table open, so loading the library purged it: " +
           std::to_string(stored - kept) + " task(s) that were not paused were dropped";
}

void SayWhatTheLoadPurged() {
    const std::string purged = LoadModuleForAChange();
    if (!purged.empty()) std::fprintf(stderr, "dlmgrctl: %s\n", purged.c_str());
}

}  // namespace dlmgrctl
