// What list, watch and the viewer read. While a host has the table open, the
// live table through the library; otherwise dlmgr.dat as stored, because
// loading the library then would make this tool the table's first mapper,
// whose start-up purge drops every task that is not paused: looking must
// never change what it looks at. A live table whose library cannot be loaded
// here is read from its section without the store's lock.
#pragma once

#include <windows.h>

#include <cstddef>
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
    // keeps makes sure the library, once loaded, is not its first mapper.
    TableReader();
    // Becomes live once a host has opened the table (a watch outlives hosts).
    void Refresh();

    bool live() const { return hold_.valid(); }
    unsigned Counter(int category) const;
    std::vector<TaskRecord> Tasks(int category) const;
    // What a reader should be told beside the tasks: the table shown as
    // stored (and the stored file's problems), read without the library,
    // full (tasks: both lists' tasks, as shown), or not saved. One note a
    // line.
    std::vector<std::string> Notes(std::size_t tasks) const;

private:
    dlmgr::UniqueMapping hold_;
    // The live table's view when the library could not be loaded, and why.
    dlmgr::UniqueView unlocked_;
    std::string noLibrary_;
    StoreReport stored_;
    // When and how large the file was when stored_ was read: a poll reads it
    // again only once it changed.
    WIN32_FILE_ATTRIBUTE_DATA storedAs_ = {};
};

// For commands that change the table: loads the library. When that load was
// the table's first mapping and its start-up dropped tasks, says how many;
// empty otherwise.
std::string LoadModuleForAChange();
// The same, said on standard error.
void SayWhatTheLoadPurged();

}  // namespace dlmgrctl
