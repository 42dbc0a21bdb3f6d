// Settings read from the real registry: user key first, machine key behind
// it, and a value that cannot be read as asked is removed where it failed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/settings_key.h"
#include "tests/support/registry_fixture.h"

namespace dlmgr {
namespace {

using test::RegistryValueExists;
using test::SetRegistryDword;
using test::SetRegistryString;

class SettingsKeyTest : public ::testing::Test {
protected:
    test::ScratchSettingsKey scratch;
    SettingsKey machine{HKEY_LOCAL_MACHINE, scratch.path().c_str(), nullptr};
    SettingsKey user{HKEY_CURRENT_USER, scratch.path().c_str(), &machine};

    std::string ReadString(const char* name, DWORD size, const std::string& initial = "") {
        std::string buffer(size + 1, '\0');
        std::memcpy(&buffer[0], initial.c_str(), initial.size());
        user.GetString(name, &buffer[0], size);
        return buffer.c_str();
    }
};

// Hosts of both sizes follow one set of settings: the machine key is read in
// the registry's 32-bit view, where 32-bit installers write it. The tests'
// prefix is 64-bit, so the views differ for both builds.
TEST_F(SettingsKeyTest, MachineKeyIsReadInThe32BitViewOnly) {
    test::SetRegistryStringIn64BitView(HKEY_LOCAL_MACHINE, scratch.path(), "DLEngine", "view64.exe");
    EXPECT_EQ(ReadString("DLEngine", 511), "");
    SetRegistryString(HKEY_LOCAL_MACHINE, scratch.path(), "DLEngine", "view32.exe");
    EXPECT_EQ(ReadString("DLEngine", 511), "view32.exe");
    SetRegistryString(HKEY_CURRENT_USER, scratch.path(), "DLEngine", "%SystemRoot%\\e.exe", REG_EXPAND_SZ);
    const std::string expanded = ReadString("DLEngine", 511);
    EXPECT_EQ(expanded.find('%'), std::string::npos) << "read expanded: " << expanded;
    EXPECT_NE(expanded.find("\\e.exe"), std::string::npos) << expanded;
}

TEST_F(SettingsKeyTest, UserValueWinsOverMachineValue) {
    SetRegistryDword(HKEY_CURRENT_USER, scratch.path(), "MaxTaskCount", 7);
    SetRegistryDword(HKEY_LOCAL_MACHINE, scratch.path(), "MaxTaskCount", 9);
    EXPECT_EQ(user.GetDword("MaxTaskCount", 30), 7u);
    SetRegistryString(HKEY_CURRENT_USER, scratch.path(), "DLEngine", "user.exe");
    SetRegistryString(HKEY_LOCAL_MACHINE, scratch.path(), "DLEngine", "machine.exe");
    EXPECT_EQ(ReadString("DLEngine", 511), "user.exe");
}

TEST_F(SettingsKeyTest, MistypedUserValueIsDeletedAndMachineValueOrDefaultReturned) {
    SetRegistryString(HKEY_CURRENT_USER, scratch.path(), "MaxTaskCount", "12");
    SetRegistryDword(HKEY_LOCAL_MACHINE, scratch.path(), "MaxTaskCount", 9);
    EXPECT_EQ(user.GetDword("MaxTaskCount", 30), 9u);
    EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, scratch.path(), "MaxTaskCount"));
    EXPECT_TRUE(RegistryValueExists(HKEY_LOCAL_MACHINE, scratch.path(), "MaxTaskCount"));

    SetRegistryString(HKEY_CURRENT_USER, scratch.path(), "Other", "12");
    EXPECT_EQ(user.GetDword("Other", 30), 30u);
    EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, scratch.path(), "Other"));

    SetRegistryDword(HKEY_CURRENT_USER, scratch.path(), "DLEngine", 5);
    EXPECT_EQ(ReadString("DLEngine", 511, "kept"), "kept");
    EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, scratch.path(), "DLEngine"));
}

TEST_F(SettingsKeyTest, MistypedMachineValueIsDeletedTooAndTheDefaultReturned) {
    SetRegistryString(HKEY_LOCAL_MACHINE, scratch.path(), "DlmgrLogLevel", "zero");
    EXPECT_EQ(user.GetDword("DlmgrLogLevel", 8), 8u);
    EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, scratch.path(), "DlmgrLogLevel"));
}

TEST_F(SettingsKeyTest, StringLongerThanAskedIsDeletedAndFallbackRead) {
    const std::string fits(254, 'a');
    SetRegistryString(HKEY_CURRENT_USER, scratch.path(), "TorrentsDir", fits);
    EXPECT_EQ(ReadString("TorrentsDir", 255), fits);
    EXPECT_TRUE(RegistryValueExists(HKEY_CURRENT_USER, scratch.path(), "TorrentsDir"));

    SetRegistryString(HKEY_CURRENT_USER, scratch.path(), "TorrentsDir", std::string(255, 'b'));
    SetRegistryString(HKEY_LOCAL_MACHINE, scratch.path(), "TorrentsDir", "D:\\machine");
    EXPECT_EQ(ReadString("TorrentsDir", 255), "D:\\machine");
    EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, scratch.path(), "TorrentsDir"));
}

TEST_F(SettingsKeyTest, NameAbsentEverywhereLeavesTheBufferExactlyAsItWas) {
    char buffer[16];
    std::memset(buffer, 'Z', sizeof(buffer));
    user.GetString("Nowhere", buffer, 10);
    for (char c : buffer) EXPECT_EQ(c, 'Z');
    EXPECT_EQ(user.GetDword("Nowhere", 0xDEADBEEF), 0xDEADBEEFu);
}

TEST_F(SettingsKeyTest, ReadFillsTheRestWithNulsAndNeverWritesPastSize) {
    SetRegistryString(HKEY_CURRENT_USER, scratch.path(), "DLEngine", "abc");
    char buffer[12];
    std::memset(buffer, 'Z', sizeof(buffer));
    user.GetString("DLEngine", buffer, 8);
    EXPECT_EQ(std::string(buffer, 8), std::string("abc\0\0\0\0\0", 8));
    EXPECT_EQ(buffer[8], 'Z');
}

TEST_F(SettingsKeyTest, TextStoredWithoutTerminatorOrEmptyIsEndedAfterTheBytesRead) {
    ASSERT_EQ(user.SetString("DLEngine", "C:\\e\\engine.exe"), ERROR_SUCCESS);
    EXPECT_EQ(ReadString("DLEngine", 511, "previous text that is longer"), "C:\\e\\engine.exe");

    SetRegistryString(HKEY_CURRENT_USER, scratch.path(), "Empty", "", REG_SZ, false);
    EXPECT_EQ(ReadString("Empty", 255, "old"), "");

    SetRegistryString(HKEY_CURRENT_USER, scratch.path(), "Nine", std::string(9, 'n'), REG_SZ, false);
    EXPECT_EQ(ReadString("Nine", 10, std::string(10, 'x')), std::string(9, 'n'));
}

TEST_F(SettingsKeyTest, SetDwordStoresTheNumberAsIs) {
    const DWORD negative = static_cast<DWORD>(-5);
    ASSERT_EQ(user.SetDword("MaxTaskCount", &negative), ERROR_SUCCESS);
    EXPECT_EQ(static_cast<int>(user.GetDword("MaxTaskCount", 30)), -5);
}

TEST_F(SettingsKeyTest, ReadingHereNeitherFallsBackNorDeletes) {
    SetRegistryString(HKEY_LOCAL_MACHINE, scratch.path(), nullptr, std::string(40, 'p'));
    char small[21] = {};
    EXPECT_FALSE(machine.ReadStringHere(nullptr, small, 20));
    EXPECT_STREQ(small, "");
    EXPECT_TRUE(RegistryValueExists(HKEY_LOCAL_MACHINE, scratch.path(), nullptr));

    SetRegistryString(HKEY_LOCAL_MACHINE, scratch.path(), "OnlyMachine", "m");
    EXPECT_FALSE(user.ReadStringHere("OnlyMachine", small, 20));
}

}  // namespace
}  // namespace dlmgr
