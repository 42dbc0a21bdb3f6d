// Offline checks of a dlmgr.dat image, made without loading the module (which
// would purge the store if nobody else had it mapped).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "store/task_store.h"

namespace dlmgrctl {

struct StoreReport {
    long long fileSize = 0;
    dlmgr::StoreHeader header = {};
    std::vector<TaskRecord> records;  // the records in use, as far as the file holds them
    std::vector<std::string> problems;
};

// bytes: the file's first bytes, at most a table's worth; fileSize: the
// whole file's size (-1: bytes is the whole file).
StoreReport InspectStore(const std::string& bytes, long long fileSize = -1);

// What "full" means to a host: a new task is refused.
bool TableIsFull(std::size_t tasks);
// Said wherever a full table is shown.
constexpr char kTableFull[] =
    "the table is full (512 tasks): a new task is refused unless the library can trim a "
    "completed one";

// Where the module keeps the data file, found without creating any folder.
std::string DefaultDataFile();
// At most limit bytes from the start of the file, read while hosts may write,
// rename or delete it, and the whole file's size: a file of the wrong size is
// never read further than what is checked. False when it cannot be opened
// (GetLastError says why).
bool ReadFileStart(const std::string& path, std::size_t limit, std::string& bytes,
                   long long* size = nullptr);

}  // namespace dlmgrctl
