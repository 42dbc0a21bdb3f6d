#include "tools/dlmgrctl/table_backing.h"

#include <windows.h>
#include <psapi.h>

#include <vector>

#include "store/task_store.h"
#include "tools/dlmgrctl/system_error.h"
#include "win/unique_resource.h"

namespace dlmgrctl {

namespace {

std::wstring Wide(const std::string& text) {
    std::vector<wchar_t> wide(text.size() + 1);
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    return wide.data();
}

std::string Narrow(const std::wstring& text) {
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> narrow(static_cast<size_t>(length > 0 ? length : 1));
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), length, nullptr, nullptr);
    return narrow.data();
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A mapped file's name as the system gives it ("\Device\HarddiskVolume2\x",
// or "\??\C:\x" under Wine) in the form a program opens ("C:\x").
std::wstring DosPath(const std::wstring& device) {
    if (StartsWith(device, L"\\??\\")) return device.substr(4);
    if (StartsWith(device, L"\\Device\\Mup\\")) return L"\\" + device.substr(11);
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t drive[3] = {letter, L':', L'\0'};
        wchar_t target[MAX_PATH] = {};
        if (::QueryDosDeviceW(drive, target, MAX_PATH) == 0) continue;
        const std::wstring prefix = std::wstring(target) + L"\\";
        if (StartsWith(device, prefix)) return drive + device.substr(prefix.size() - 1);
    }
    return device;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    const auto open = [](const std::wstring& path) {
        return dlmgr::UniqueFile(::CreateFileW(path.c_str(), 0,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                               nullptr));
    };
    const dlmgr::UniqueFile first = open(a);
    const dlmgr::UniqueFile second = open(b);
    BY_HANDLE_FILE_INFORMATION one = {}, other = {};
    if (!first || !second || !::GetFileInformationByHandle(first.get(), &one) ||
        !::GetFileInformationByHandle(second.get(), &other)) {
        return ::lstrcmpiW(a.c_str(), b.c_str()) == 0;
    }
    return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

// Why the library would not have the file now, tried as it opens it (and
// closed at once: nothing is written).
std::string WhyNotTheFile(const std::string& dataFile) {
    const DWORD attributes = ::GetFileAttributesA(dataFile.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return "a folder has its name";
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return "it does not exist: the library could not make it (" +
               SystemErrorText(::GetLastError()) + ")";
    }
    const dlmgr::UniqueFile file(::CreateFileA(dataFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return "the library cannot open it: " + SystemErrorText(::GetLastError());
    return "it opens now: it could not when the first host started, or another program made a "
           "section under the table's name";
}

}  // namespace

std::string TableNotSaved(const std::string& dataFile) {
    const dlmgr::UniqueMapping mapping(
        ::OpenFileMappingA(FILE_MAP_READ, FALSE, dlmgr::kStoreMappingName));
    if (!mapping) return "";
    const dlmgr::UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) return "";
    wchar_t mapped[MAX_PATH * 2] = {};
    if (::GetMappedFileNameW(::GetCurrentProcess(), view.get(), mapped, MAX_PATH * 2) == 0) {
        return std::string(kNotSaved) + "the table hosts share lives in the page file, not in " +
               dataFile + " (" + WhyNotTheFile(dataFile) +
               "); tasks registered now are lost when the last host ends";
    }
    const std::wstring backing = DosPath(mapped);
    if (SameFile(backing, Wide(dataFile))) return "";
    return std::string(kNotSaved) + "the table hosts share is kept in " + Narrow(backing) +
           ", not in " + dataFile + ": another program made a section of that file under the "
           "table's name";
}

}  // namespace dlmgrctl
