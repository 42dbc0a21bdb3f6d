// Every kernel call the module makes while loading, registering, listing,
// acting, logging and recovering, failed in turn: the host neither crashes
// nor hangs, what was stored stays, and the next host works.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "log/messages.h"
#include "settings/settings_names.h"
#include "sync/optex.h"
#include "tests/module/host_calls.h"
#include "tests/module/module_fixture.h"
#include "tests/support/kernel_faults.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/test_sync.h"

namespace dlmgr::test {
namespace {

constexpr unsigned char kDeletable = 0x31;  // paused, kind 7: deleting it touches no file
constexpr unsigned char kKept = 0x32;       // paused: no operation removes it
constexpr unsigned char kNew = 0x50;
constexpr unsigned char kFinished = 0x41;  // completed, registered by the host: opened

TaskId IdOf(unsigned char byte) { return MakeTaskRecord(byte, DLMGR_STATUS_PAUSED).id; }

struct Holder {
    DlmgrLibrary* lib;
    HANDLE holding;
};

DWORD WINAPI HoldStoreAndWait(void* parameter) {
    auto* holder = static_cast<Holder*>(parameter);
    holder->lib->GetTaskCount(0);  // keeps the store until its copy, which never comes
    ::SetEvent(holder->holding);
    ::Sleep(INFINITE);
    return 0;
}

// Runs one operation with the nth of the module's kernel calls in it failed
// (none with 0) and exits with the number of calls counted when nth is 0.
// Whatever the operation returns is allowed: only a crash or a hang is not.
DLMGR_CHILD_SCENARIO(KernelFault) {
    ASSERT_TRUE(InstallKernelFaults(DlmgrDllPath()));
    const std::string& operation = args.at(0);
    const int nth = std::stoi(args.at(1));
    if (operation == "load") ArmKernelFault(nth);
    DlmgrLibrary lib;
    if (operation != "load") {
        ASSERT_TRUE(lib.loaded());
        if (operation == "recovery") {
            // A thread that dies holding the store: the next entry takes it over.
            UniqueEvent holding(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
            Holder holder{&lib, holding.get()};
            UniqueThread thread(::CreateThread(nullptr, 0, HoldStoreAndWait, &holder, 0, nullptr));
            ASSERT_EQ(::WaitForSingleObject(holding.get(), kSignalTimeoutMs), WAIT_OBJECT_0);
            ::TerminateThread(thread.get(), 1);
            ::WaitForSingleObject(thread.get(), kSignalTimeoutMs);
        }
        TaskRecord finished = MakeTaskRecord(kFinished, DLMGR_STATUS_COMPLETED);
        if (operation == "open") {
            std::snprintf(finished.filePath, sizeof(finished.filePath), "%s", args.at(2).c_str());
            Register(lib, finished);
        }
        ArmKernelFault(nth);
        const TaskId deletable = IdOf(kDeletable);
        const TaskId kept = IdOf(kKept);
        if (operation == "register") {
            const TaskRecord record = MakeTaskRecord(kNew, DLMGR_STATUS_RUNNING);
            lib.SetTaskInfo(&record);
        } else if (operation == "list" || operation == "recovery") {
            std::vector<TaskRecord> records(lib.GetTaskCount(1) + 1);
            lib.GetTaskInfo(records.data());
        } else if (operation == "delete") {
            lib.DeleteTask(&deletable);
        } else if (operation == "resume") {
            lib.ResumeTask(&kept);
        } else if (operation == "again") {
            lib.DownloadAgain(&kept);
        } else if (operation == "open") {
            lib.OpenTaskFile(&finished.id);
        }
    }
    const int calls = DisarmKernelFault();
    if (nth == 0) {
        std::fflush(stdout);
        ::ExitProcess(static_cast<UINT>(calls));
    }
}

// Loads, registers and lists, and finds what was stored.
DLMGR_CHILD_SCENARIO(NextHostWorks) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    Register(lib, MakeTaskRecord(0x60, DLMGR_STATUS_PAUSED));
    const auto ids = ListIds(lib, 1);
    EXPECT_NE(std::find(ids.begin(), ids.end(), kKept), ids.end()) << "a stored task was lost";
    EXPECT_NE(std::find(ids.begin(), ids.end(), 0x60), ids.end());
}

// Loads with the disk refusing the module's first write: the file cannot
// get the table's space (a full disk).
DLMGR_CHILD_SCENARIO(LoadOnAFullDisk) {
    ASSERT_TRUE(InstallKernelFaults(DlmgrDllPath()));
    ArmKernelFault(1, "WriteFile");
    DlmgrLibrary lib;
    DisarmKernelFault();
    EXPECT_FALSE(lib.loaded()) << "a table without its space was accepted";
}

// Loads while another program keeps the lock's recovery mutex.
DLMGR_CHILD_SCENARIO(LoadWithoutRecovery) {
    DlmgrLibrary lib;
    ASSERT_TRUE(lib.loaded());
    Register(lib, MakeTaskRecord(kNew, DLMGR_STATUS_PAUSED));
}

class KernelFaults : public ModuleTest {
protected:
    // The actions start a program: a recorder stands in for the engine and
    // for the program that opens a finished file's type.
    void SetUp() override {
        ModuleTest::SetUp();
        CopyFileTo(recorder, profile / "engine.exe");
        SetRegistryString(HKEY_CURRENT_USER, kProductKey, kEngineCommandValue, profile / "engine.exe");
        SetSystemRegistryString(HKEY_LOCAL_MACHINE, kClasses + "\\.dlmgrtest", "dlmgrtest.file");
        SetSystemRegistryString(HKEY_LOCAL_MACHINE, kClasses + "\\dlmgrtest.file\\shell\\open\\command",
                                "\"" + recorder + "\" \"%1\"");
        WriteWholeFile(finishedFile, "data");
    }
    void TearDown() override {
        DeleteSystemRegistryKey(HKEY_LOCAL_MACHINE, kClasses + "\\.dlmgrtest");
        DeleteSystemRegistryKey(HKEY_LOCAL_MACHINE, kClasses + "\\dlmgrtest.file");
        ModuleTest::TearDown();
    }

    const std::string kClasses = "Software\\Classes";
    const std::string recorder = ExecutableFolder() + "\\recorder.exe";
    const std::string finishedFile = profile / "finished.dlmgrtest";

    void PrepareTable() {
        auto block = EmptyStore();
        PutRecord(*block, MakeTaskRecord(kDeletable, DLMGR_STATUS_PAUSED, 7));
        PutRecord(*block, MakeTaskRecord(kKept, DLMGR_STATUS_PAUSED));
        PrepareStore(*block);
    }

    // Fails each of the operation's calls in turn; the number swept.
    int Sweep(const std::string& operation) {
        PrepareTable();
        const int calls = Run("KernelFault", {operation, "0", finishedFile});
        EXPECT_GE(calls, 0) << operation << " without a fault";
        if (calls <= 0 || calls > 1000) return 0;
        for (int nth = 1; nth <= calls; ++nth) {
            PrepareTable();
            const int result = Run("KernelFault", {operation, std::to_string(nth), finishedFile});
            EXPECT_EQ(result, 0) << operation << ", call " << nth << " of " << calls << " failed";
            EXPECT_EQ(Run("NextHostWorks"), 0) << operation << ", after call " << nth;
            EXPECT_TRUE(RegistryValueExists(HKEY_CURRENT_USER, kProductKey, kLogLevelValue))
                << operation << ", call " << nth << ": a failed read deleted the user's setting";
            if (HasFailure()) return nth;
        }
        return calls;
    }
};

TEST_F(KernelFaults, AFullDiskRefusesTheLoadWithALineInsteadOfFaultingLater) {
    // The first process to map the file writes it whole, its bytes in place.
    PrepareTable();
    const std::string stored = ReadWholeFile(DataFile());
    EXPECT_EQ(Run("LoadOnAFullDisk"), 0);
    EXPECT_TRUE(ReadWholeFile(DataFile()) == stored) << "the refused load changed dlmgr.dat";
    char refused[600];
    std::snprintf(refused, sizeof(refused), messages::kNoRoomForTable, DataFile().c_str(),
                  static_cast<unsigned long>(ERROR_DISK_FULL));
    EXPECT_EQ(ReadLogMessages(DefaultLog()), std::vector<std::string>({refused}));
    EXPECT_EQ(Run("NextHostWorks"), 0);
}

TEST_F(KernelFaults, RecoveryMutexKeptByAnotherProgramIsSaidAtLoadAndRecoveryGoesOnWithoutIt) {
    const UniqueMutex recovery(::CreateMutexA(
        nullptr, TRUE, (std::string(Optex::kRecoveryPrefix) + kStoreLockName).c_str()));
    ASSERT_TRUE(recovery.valid());
    EXPECT_EQ(Run("LoadWithoutRecovery"), 0);
    EXPECT_EQ(ReadLogMessages(DefaultLog()), std::vector<std::string>({messages::kRecoveryMutexKept}));
}

TEST_F(KernelFaults, EachCallOfEachOperationFailedInTurnNeitherCrashesNorHangsNorLosesTasks) {
    // Every line logged: the log's own calls are swept with each operation.
    SetRegistryDword(HKEY_CURRENT_USER, kProductKey, kLogLevelValue, 0);
    int total = 0;
    for (const char* operation :
         {"load", "register", "list", "delete", "resume", "again", "open", "recovery"}) {
        const int swept = Sweep(operation);
        std::printf("[ sweep    ] %s: %d call(s)\n", operation, swept);
        total += swept;
        if (HasFailure()) break;
    }
    std::printf("[ sweep    ] %d call(s) failed in turn\n", total);
    EXPECT_GT(total, 0) << "no kernel call of the module was counted";
}

}  // namespace
}  // namespace dlmgr::test
