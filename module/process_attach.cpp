#include "module/process_attach.h"

#include <windows.h>

#include "log/log.h"
#include "log/messages.h"
#include "module/data_directory.h"
#include "module/module_objects.h"
#include "module/store_lock.h"
#include "module/thread_listing_state.h"
#include "settings/settings_names.h"
#include "store/task_table.h"

namespace dlmgr {

namespace {

constexpr char kLogLockName[] = "{01408cfb-bb60-4634-82e2-5c0e378f88a6}";

// Opens dlmgr.dat, or creates it; newStore tells whether the first attempt,
// which only opens an existing file, failed.
UniqueFile OpenDataFile(const char* path, bool& newStore) {
    constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    UniqueFile file(::CreateFileA(path, kAccess, kShare, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    newStore = !file;
    if (newStore) {
        // Should this fail too, the mapping is backed by the paging file.
        file.reset(::CreateFileA(path, kAccess, kShare, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    return file;
}

// A block whose magic is not 2, or whose count is beyond the table, is
// initialised. A block that already holds a table is kept even when this
// process had to create the file: another process may be using it.
void PrepareHeader(StoreHeader& header) {
    if (header.magic == kStoreMagic && header.taskCount > kMaxTasks) {
        Log(8, messages::kBadTaskCount, static_cast<unsigned>(header.taskCount));
        InitialiseHeader(header);
    } else if (header.magic != kStoreMagic) {
        InitialiseHeader(header);
    }
}

// The first process to map the store keeps only paused tasks: whatever else
// was running or finished belongs to a run that has ended.
void PurgeUnpaused(StoreBlock& block) {
    TaskTable table(block, userSettings);
    int index = 0;
    while (static_cast<std::uint32_t>(index) < table.TaskCount()) {
        if (table.Record(index).status != DLMGR_STATUS_PAUSED) {
            table.RemoveTask(index);
        } else {
            ++index;
        }
    }
}

// Logs why the module cannot run and gives back what attach made so far; the
// loader then refuses the module.
bool RefuseAttach(const char* message) {
    Log(8, message);
    moduleState.storeView.reset();
    moduleState.mapping.reset();
    moduleState.dataFile.reset();
    moduleState.listingSlot.reset();
    DestroyLogSink();
    return false;
}

}  // namespace

bool OnProcessAttach() {
    char directory[kPathBufferSize];
    PrepareDataDirectory(directory);

    char logPath[kPathBufferSize] = {};
    ::lstrcpynA(logPath, directory, sizeof(logPath));
    AppendToPath(logPath, "\\dlmgr.log");
    userSettings.GetString(kLogFileNameValue, logPath, sizeof(logPath) - 1);
    CreateLogSink(logPath, kLogLockName);
    SetLogThreshold(static_cast<int>(userSettings.GetDword(kLogLevelValue, kDefaultLogLevel)));
    Log(1, messages::kProcessAttached);

    moduleState.listingSlot.reset(::TlsAlloc());
    Log(1, messages::kTlsIndex, static_cast<int>(moduleState.listingSlot.get()));

    if (!storeLock.IsUsable()) return RefuseAttach(messages::kStoreLockFailed);

    char dataPath[kPathBufferSize] = {};
    ::lstrcpynA(dataPath, directory, sizeof(dataPath));
    AppendToPath(dataPath, "\\");
    AppendToPath(dataPath, kDataFileName);
    Log(1, messages::kDataFileLocation, dataPath);

    bool newStore = false;
    moduleState.dataFile = OpenDataFile(dataPath, newStore);
    moduleState.mapping.reset(::CreateFileMappingA(moduleState.dataFile.get(), nullptr,
                                                   PAGE_READWRITE, 0, kStoreBlockSize,
                                                   kStoreMappingName));
    const bool firstMapper = moduleState.mapping && ::GetLastError() != ERROR_ALREADY_EXISTS;
    Log(1, messages::kMappingHandle,
        static_cast<int>(reinterpret_cast<INT_PTR>(moduleState.mapping.get())));
    if (!moduleState.mapping) return RefuseAttach(messages::kMappingFailed);

    Log(1, newStore ? messages::kNewMapping : messages::kExistingMapping);
    moduleState.storeView.reset(
        ::MapViewOfFile(moduleState.mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kStoreBlockSize));
    if (!moduleState.storeView) return RefuseAttach(messages::kViewFailed);

    {
        // Two processes starting together must not initialise or purge the
        // same block at once.
        OptexGuard guard = LockStore();
        StoreBlock& block = *moduleState.store();
        PrepareHeader(block.header);
        if (firstMapper) PurgeUnpaused(block);
    }

    OnThreadAttach();
    return true;
}

void OnProcessDetach() {
    DetachListingState();
    moduleState.listingSlot.reset();
    moduleState.mapping.reset();
    moduleState.dataFile.reset();
    // Deliberately left mapped until the process ends (see ModuleState).
    moduleState.storeView.release();
    DestroyLogSink();
}

void OnThreadAttach() { AttachListingState(); }

void OnThreadDetach() {
    DetachListingState();
    storeLock.ForgetCurrentThread();
    ForgetLogThread();
}

}  // namespace dlmgr
