// What list and watch read. While a host has the table open, the live table
// through the module; otherwise dlmgr.dat as stored, because loading the
// module then would make this tool the table's first mapper, whose start-up
// purge drops every task that is not paused: looking must never change what
// it looks at.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "dlmgr.h"
#include "tools/dlmgrctl/store_inspection.h"
#include "win/unique_resource.h"

namespace dlmgrctl {

constexpr char kShownAsStored[] =
    "no host has the table open: shown as stored; the next host to start keeps only the "
    "paused tasks";

class TableReader {
public:
    // Live when some process has the table's mapping open; the handle this
    // keeps makes sure the module, once loaded, is not its first mapper.
    TableReader();
    // Becomes live once a host has opened the table (a watch outlives hosts).
    void Refresh();

    bool live() const { return hold_.valid(); }
    unsigned Counter(int category) const;
    std::vector<TaskRecord> Tasks(int category) const;

private:
    dlmgr::UniqueMapping hold_;
    StoreReport stored_;
    // When and how large the file was when stored_ was read: a poll reads it
    // again only once it changed.
    WIN32_FILE_ATTRIBUTE_DATA storedAs_ = {};
};

// For commands that change the table: loads the module. When that load was
// the table's first mapping and its start-up dropped tasks, says how many;
// empty otherwise.
std::string LoadModuleForAChange();
// The same, said on standard error.
void SayWhatTheLoadPurged();

}  // namespace dlmgrctl
