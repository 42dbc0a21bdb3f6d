#include "tests/support/temp_folder.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "tools/dlmgrctl/store_inspection.h"
#include "win/unique_resource.h"

namespace dlmgr::test {

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    char base[MAX_PATH];
    ::GetTempPathA(sizeof(base), base);
    path_ = std::string(base) + "dlmgr-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++counter) + "-" + std::to_string(::GetTickCount());
    RemoveTree(path_);
    if (!::CreateDirectoryA(path_.c_str(), nullptr)) throw std::runtime_error("temp folder");
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(child.c_str());
            }
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(path.c_str());
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWholeFile(const std::string& path) {
    std::string content;
    dlmgrctl::ReadFileStart(path, std::string::npos, content);  // none: empty
    return content;
}

void WriteWholeFile(const std::string& path, const std::string& content) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error("cannot write " + path);
    DWORD written = 0;
    ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

void AppendToFile(const std::string& path, const std::string& content) {
    UniqueFile file(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error("cannot append to " + path);
    DWORD written = 0;
    ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void CopyFileTo(const std::string& from, const std::string& to) {
    if (!::CopyFileA(from.c_str(), to.c_str(), FALSE)) throw std::runtime_error("copy " + from);
}

std::string ExecutableFolder() {
    char path[MAX_PATH];
    std::string full(path, ::GetModuleFileNameA(nullptr, path, sizeof(path)));
    return full.substr(0, full.find_last_of('\\'));
}

}  // namespace dlmgr::test
