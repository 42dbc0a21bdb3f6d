#include "module/data_directory.h"

#include <windows.h>

#include <cstring>

namespace dlmgr {

namespace {

bool IsNtFamily() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return ::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Creates each folder of an absolute path that does not exist yet. A profile
// without "Application Data" would otherwise leave the store without a file.
void CreateFolderPath(const char* path) {
    char partial[kPathBufferSize];
    const size_t length = std::strlen(path);
    for (size_t i = 0; i <= length; ++i) {
        const bool atSeparator = path[i] == '\\' || path[i] == '/' || path[i] == '\0';
        // Skip the drive ("C:") and the leading slashes of a UNC path.
        if (!atSeparator || i == 0 || path[i - 1] == ':' || path[i - 1] == '\\') continue;
        std::memcpy(partial, path, i);
        partial[i] = '\0';
        ::CreateDirectoryA(partial, nullptr);
    }
}

}  // namespace

void AppendToPath(char (&path)[kPathBufferSize], const char* text) {
    const size_t used = ::strnlen(path, kPathBufferSize - 1);
    ::lstrcpynA(path + used, text, static_cast<int>(kPathBufferSize - used));
}

void FindDataDirectory(char (&directory)[kPathBufferSize]) {
    std::memset(directory, 0, sizeof(directory));
    if (IsNtFamily()) {
        const DWORD needed = ::ExpandEnvironmentStringsA("%USERPROFILE%\\Application Data",
                                                         directory, kPathBufferSize - 1);
        if (needed == 0 || needed > kPathBufferSize - 1) directory[0] = '\0';
    } else {
        const UINT length = ::GetSystemDirectoryA(directory, kPathBufferSize - 1);
        if (length == 0 || length > kPathBufferSize - 1) directory[0] = '\0';
    }
    AppendToPath(directory, "\\p4p");
}

void PrepareDataDirectory(char (&directory)[kPathBufferSize]) {
    FindDataDirectory(directory);
    CreateFolderPath(directory);
}

}  // namespace dlmgr
