#include "module/process_attach.h"

#include <windows.h>

#include "log/log.h"
#include "log/log_sink.h"
#include "log/messages.h"
#include "module/data_directory.h"
#include "module/data_file_space.h"
#include "module/module_objects.h"
#include "module/store_lock.h"
#include "module/thread_listing_state.h"
#include "settings/settings_names.h"
#include "store/store_repair.h"
#include "store/task_table.h"
#include "win/mapped_file.h"

namespace dlmgr {

namespace {

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

// dlmgr.intent beside dlmgr.dat, mapped like it (or, when the data file could
// not be made, backed by the paging file like the table). Without it the
// table is changed without a record of the change under way.
void OpenIntent(const char* directory, bool backedByFile) {
    char path[kPathBufferSize] = {};
    ::lstrcpynA(path, directory, sizeof(path));
    AppendToPath(path, "\\");
    AppendToPath(path, kIntentFileName);
    if (backedByFile) {
        moduleState.intentFile.reset(::CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!moduleState.intentFile) return;
    }
    moduleState.intentMapping.reset(::CreateFileMappingA(moduleState.intentFile.get(), nullptr,
                                                         PAGE_READWRITE, 0, sizeof(StoreIntent),
                                                         kIntentMappingName));
    if (!moduleState.intentMapping) return;
    moduleState.intentView.reset(::MapViewOfFile(moduleState.intentMapping.get(),
                                                 FILE_MAP_ALL_ACCESS, 0, 0, sizeof(StoreIntent)));
    StoreIntent* intent = moduleState.intent();
    if (intent != nullptr && intent->magic != kIntentMagic) {
        // A new file, or one of another layout: no change is under way.
        intent->operation = kIntentNone;
        KeepStoreOrder();
        intent->magic = kIntentMagic;
    }
}

// A block whose magic is not 2 is initialised, and any change recorded for
// the table it held is forgotten. A block that already holds a table is kept
// even when this process had to create the file: another process may be
// using it. The first process to map it, or one that took the store over from
// a dead holder, checks it whole.
void PrepareTable(StoreBlock& block, bool thorough, bool tookOver) {
    StoreIntent* intent = moduleState.intent();
    if (block.header.magic != kStoreMagic) {
        if (intent != nullptr) intent->operation = kIntentNone;
        InitialiseHeader(block.header);
    }
    if (RepairStore(block, intent, userSettings, thorough) || tookOver) {
        RaiseChangeCounters(block.header);
    }
}

// The first process to map the store keeps only paused tasks: whatever else
// was running or finished belongs to a run that has ended.
void PurgeUnpaused(StoreBlock& block) {
    TaskTable table(block, userSettings, moduleState.intent());
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
    if (message != nullptr) Log(8, message);
    moduleState.intentView.reset();
    moduleState.intentMapping.reset();
    moduleState.intentFile.reset();
    moduleState.storeView.reset();
    moduleState.mapping.reset();
    moduleState.dataFile.reset();
    moduleState.listingSlot.reset();
    DestroyLogSink();
    return false;
}

// How long start-up waits for the store before it maps the table without it.
constexpr DWORD kStartUpStoreWaitMs = 5000;

// Maps the table (and the record of its change under way) and prepares it.
// The store is taken before its mapping is created or opened, and held
// through the header check and the purge: a process that maps it a moment
// later must not register tasks that this one's purge then deletes.
// Says, at the default level, when what hosts share is not dlmgr.dat: the
// file could not be opened (the table then lives in the page file), or the
// section under the table's name is not a view of it. Hosts work on; what
// they register is lost when the last one ends.
void ReportUnsavedTable(const char* dataPath, DWORD openError) {
    if (!moduleState.dataFile) {
        Log(8, messages::kTableInMemory, dataPath, static_cast<unsigned long>(openError));
        return;
    }
    wchar_t backing[kPathBufferSize * 2] = {};
    if (!MappedFilePath(moduleState.storeView.get(), backing, kPathBufferSize * 2)) {
        Log(8, messages::kTableNotTheFile, dataPath, "in memory");
        return;
    }
    if (IsSameFile(moduleState.dataFile.get(), backing)) return;
    char name[kPathBufferSize * 2] = {};
    ::WideCharToMultiByte(CP_ACP, 0, backing, -1, name, sizeof(name) - 1, nullptr, nullptr);
    Log(8, messages::kTableNotTheFile, dataPath, name);
}

bool OpenStore(const char* directory, const char* dataPath) {
    // Under the loader's lock: a live thread that keeps the store (a stuck or
    // suspended host) must not hang every program that loads us.
    OptexGuard guard = LockStoreWithin(kStartUpStoreWaitMs);
    if (!guard) {
        const ThreadIdentity holder = storeLock.Holder();
        if (holder.threadId == 0) {
            Log(8, messages::kStartedStoreUnowned, static_cast<long>(storeLock.Shared()->lockCount));
        } else if (holder.processId == 0) {
            Log(8, messages::kStartedBesideUnrecorded, static_cast<unsigned long>(holder.threadId));
        } else {
            Log(8, messages::kStartedWithoutStore, static_cast<unsigned long>(holder.processId),
                static_cast<unsigned long>(holder.threadId));
        }
    }
    bool newStore = false;
    moduleState.dataFile = OpenDataFile(dataPath, newStore);
    const DWORD openError = moduleState.dataFile ? ERROR_SUCCESS : ::GetLastError();
    DWORD spaceError = ERROR_SUCCESS;
    if (moduleState.dataFile &&
        !ClaimFileSpace(moduleState.dataFile.get(), kStoreBlockSize, false, spaceError)) {
        Log(8, messages::kNoRoomForTable, dataPath, static_cast<unsigned long>(spaceError));
        return RefuseAttach(nullptr);
    }
    // "Already exists" must come from this call, never from an earlier one.
    ::SetLastError(ERROR_SUCCESS);
    moduleState.mapping.reset(::CreateFileMappingA(moduleState.dataFile.get(), nullptr,
                                                   PAGE_READWRITE, 0, kStoreBlockSize,
                                                   kStoreMappingName));
    const bool firstMapper = moduleState.mapping && ::GetLastError() != ERROR_ALREADY_EXISTS;
    // Alone with the file, its existing bytes are written back too: an
    // earlier build may have left it sparse.
    if (firstMapper && guard && moduleState.dataFile &&
        !ClaimFileSpace(moduleState.dataFile.get(), kStoreBlockSize, true, spaceError)) {
        Log(8, messages::kNoRoomForTable, dataPath, static_cast<unsigned long>(spaceError));
        return RefuseAttach(nullptr);
    }
    Log(1, messages::kMappingHandle,
        static_cast<int>(reinterpret_cast<INT_PTR>(moduleState.mapping.get())));
    if (!moduleState.mapping) return RefuseAttach(messages::kMappingFailed);

    Log(1, newStore ? messages::kNewMapping : messages::kExistingMapping);
    moduleState.storeView.reset(
        ::MapViewOfFile(moduleState.mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kStoreBlockSize));
    if (!moduleState.storeView) return RefuseAttach(messages::kViewFailed);
    ReportUnsavedTable(dataPath, openError);
    OpenIntent(directory, moduleState.dataFile.valid());

    // Without the store, the table is left as it is: the first export that
    // gets the store checks it.
    if (!guard) return true;
    StoreBlock& block = *moduleState.store();
    PrepareTable(block, firstMapper || guard.abandoned(), guard.abandoned());
    if (firstMapper) PurgeUnpaused(block);
    return true;
}

// True when path names dlmgr.dat or dlmgr.intent in directory: log lines
// appended there would be written into the table.
bool NamesStoreFile(const char* path, const char* directory) {
    char full[kPathBufferSize] = {};
    const DWORD length = ::GetFullPathNameA(path, sizeof(full), full, nullptr);
    if (length == 0 || length >= sizeof(full)) return false;
    const UniqueFile named(::CreateFileA(full, 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
    for (const char* file : {kDataFileName, kIntentFileName}) {
        char storePath[kPathBufferSize] = {};
        ::lstrcpynA(storePath, directory, sizeof(storePath));
        AppendToPath(storePath, "\\");
        AppendToPath(storePath, file);
        if (::lstrcmpiA(full, storePath) == 0) return true;
        wchar_t wide[kPathBufferSize] = {};
        if (named && ::MultiByteToWideChar(CP_ACP, 0, storePath, -1, wide, kPathBufferSize) != 0 &&
            IsSameFile(named.get(), wide)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool OnProcessAttach() {
    char directory[kPathBufferSize];
    PrepareDataDirectory(directory);

    char logPath[kPathBufferSize] = {};
    ::lstrcpynA(logPath, directory, sizeof(logPath));
    AppendToPath(logPath, "\\dlmgr.log");
    char setting[kPathBufferSize] = {};
    ::lstrcpynA(setting, logPath, sizeof(setting));
    userSettings.GetString(kLogFileNameValue, setting, sizeof(setting) - 1);
    // Only a setting is checked: the default log is never the table's file.
    const bool settingNamesStore =
        ::lstrcmpiA(setting, logPath) != 0 && NamesStoreFile(setting, directory);
    if (!settingNamesStore) ::lstrcpynA(logPath, setting, sizeof(logPath));
    CreateLogSink(logPath, kLogLockName);
    SetLogThreshold(static_cast<int>(userSettings.GetDword(kLogLevelValue, kDefaultLogLevel)));
    if (settingNamesStore) Log(8, messages::kLogNamesStoreFile, setting, logPath);
    Log(1, messages::kProcessAttached);

    moduleState.listingSlot.reset(::TlsAlloc());
    Log(1, messages::kTlsIndex, static_cast<int>(moduleState.listingSlot.get()));

    if (!storeLock.IsUsable()) return RefuseAttach(messages::kStoreLockFailed);
    if (!storeLock.IsRobust()) Log(8, messages::kStoreLockNotRobust);

    char dataPath[kPathBufferSize] = {};
    ::lstrcpynA(dataPath, directory, sizeof(dataPath));
    AppendToPath(dataPath, "\\");
    AppendToPath(dataPath, kDataFileName);
    Log(1, messages::kDataFileLocation, dataPath);

    if (!OpenStore(directory, dataPath)) return false;

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
    moduleState.intentMapping.reset();
    moduleState.intentFile.reset();
    moduleState.intentView.release();
    DestroyLogSink();
}

void OnThreadAttach() { AttachListingState(); }

void OnThreadDetach() {
    DetachListingState();
    storeLock.ForgetCurrentThread();
    ForgetLogThread();
}

}  // namespace dlmgr
