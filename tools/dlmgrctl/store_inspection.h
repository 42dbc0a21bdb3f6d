// Offline checks of a dlmgr.dat image, made without loading the module (which
// would purge the store if nobody else had it mapped).
#pragma once

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

// bytes is the whole file.
StoreReport InspectStore(const std::string& bytes);

// Where the module keeps the data file, found without creating any folder.
std::string DefaultDataFile();
// The whole file, read while hosts may write, rename or delete it; false when it cannot be
// opened (GetLastError says why).
bool ReadFileBytes(const std::string& path, std::string& bytes);

}  // namespace dlmgrctl
