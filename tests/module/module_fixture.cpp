#include "tests/module/module_fixture.h"

#include <windows.h>

#include "settings/settings_names.h"
#include "tests/support/registry_fixture.h"

namespace dlmgr::test {

const char* const kProductKey = kSettingsKeyPath;

void ModuleTest::SetUp() {
    DeleteRegistryKey(HKEY_CURRENT_USER, kProductKey);
    DeleteRegistryKey(HKEY_LOCAL_MACHINE, kProductKey);
}

void ModuleTest::TearDown() {
    DeleteRegistryKey(HKEY_CURRENT_USER, kProductKey);
    DeleteRegistryKey(HKEY_LOCAL_MACHINE, kProductKey);
}

void ModuleTest::PrepareStore(const StoreBlock& block, size_t size) {
    ::CreateDirectoryA((profile / "Application Data").c_str(), nullptr);
    ::CreateDirectoryA(DataFolder().c_str(), nullptr);
    WriteStoreFile(DataFile(), block, size);
}

std::string ModuleTest::LogEverything() {
    const std::string path = profile / "test.log";
    SetRegistryString(HKEY_CURRENT_USER, kProductKey, kLogFileNameValue, path);
    SetRegistryDword(HKEY_CURRENT_USER, kProductKey, kLogLevelValue, 0);
    return path;
}


}  // namespace dlmgr::test

#include "tests/module/host_calls.h"
#include "tests/support/test_sync.h"

namespace dlmgr::test {

bool StoreIsFreeForOthers(DlmgrLibrary& lib, DWORD timeoutMs) {
    // A count and an empty copy: the listing takes the store and leaves it.
    return RunOnOtherThread([&] { lib.GetTaskCount(0); lib.GetTaskInfo(nullptr); }, timeoutMs);
}

}  // namespace dlmgr::test
