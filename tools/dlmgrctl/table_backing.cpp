#include "tools/dlmgrctl/table_backing.h"

#include <windows.h>

#include <vector>

#include "store/task_store.h"
#include "tools/dlmgrctl/system_error.h"
#include "win/mapped_file.h"
#include "win/unique_resource.h"

namespace dlmgrctl {

namespace {

std::string Narrow(const std::wstring& text) {
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> narrow(static_cast<size_t>(length > 0 ? length : 1));
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), length, nullptr, nullptr);
    return narrow.data();
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
    wchar_t backing[MAX_PATH * 2] = {};
    if (!dlmgr::MappedFilePath(view.get(), backing, MAX_PATH * 2)) {
        return std::string(kNotSaved) + "the table hosts share lives in the page file, not in " +
               dataFile + " (" + WhyNotTheFile(dataFile) +
               "); tasks registered now are lost when the last host ends";
    }
    const dlmgr::UniqueFile file(::CreateFileA(dataFile.c_str(), 0,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                               nullptr));
    if (file && dlmgr::IsSameFile(file.get(), backing)) return "";
    return std::string(kNotSaved) + "the table hosts share is kept in " + Narrow(backing) +
           ", not in " + dataFile + ": another program made a section of that file under the "
           "table's name";
}

}  // namespace dlmgrctl
