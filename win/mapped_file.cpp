#include "win/mapped_file.h"

#include <psapi.h>

#include "win/unique_resource.h"

namespace dlmgr {

namespace {

bool StartsWith(const wchar_t* text, const wchar_t* prefix, size_t& length) {
    length = static_cast<size_t>(::lstrlenW(prefix));
    return ::CompareStringOrdinal(text, static_cast<int>(length), prefix,
                                  static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

bool Compose(wchar_t* out, size_t size, const wchar_t* head, const wchar_t* tail) {
    const size_t headLength = static_cast<size_t>(::lstrlenW(head));
    const size_t tailLength = static_cast<size_t>(::lstrlenW(tail));
    if (headLength + tailLength + 1 > size) return false;
    ::CopyMemory(out, head, headLength * sizeof(wchar_t));
    ::CopyMemory(out + headLength, tail, (tailLength + 1) * sizeof(wchar_t));
    return true;
}

}  // namespace

bool MappedFilePath(const void* view, wchar_t* path, size_t size) noexcept {
    wchar_t device[MAX_PATH * 2] = {};
    if (::GetMappedFileNameW(::GetCurrentProcess(), const_cast<void*>(view), device,
                             MAX_PATH * 2) == 0) {
        return false;
    }
    // "\Device\HarddiskVolume2\x", "\Device\Mup\server\x", or "\??\C:\x" under Wine.
    size_t length = 0;
    if (StartsWith(device, L"\\??\\", length)) return Compose(path, size, L"", device + length);
    if (StartsWith(device, L"\\Device\\Mup\\", length)) {
        return Compose(path, size, L"\\\\", device + length);
    }
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t drive[3] = {letter, L':', L'\0'};
        wchar_t target[MAX_PATH] = {};
        if (::QueryDosDeviceW(drive, target, MAX_PATH) == 0) continue;
        if (StartsWith(device, target, length) && device[length] == L'\\') {
            return Compose(path, size, drive, device + length);
        }
    }
    return Compose(path, size, L"", device);
}

bool IsSameFile(HANDLE file, const wchar_t* path) noexcept {
    const UniqueFile other(::CreateFileW(path, 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
    BY_HANDLE_FILE_INFORMATION one = {}, two = {};
    if (!other || !::GetFileInformationByHandle(file, &one) ||
        !::GetFileInformationByHandle(other.get(), &two)) {
        wchar_t name[MAX_PATH * 2] = {};
        const DWORD length = ::GetFinalPathNameByHandleW(file, name, MAX_PATH * 2, 0);
        if (length == 0 || length >= MAX_PATH * 2) return false;
        const wchar_t* plain = name;
        size_t prefix = 0;
        if (StartsWith(name, L"\\\\?\\", prefix)) plain += prefix;
        return ::lstrcmpiW(plain, path) == 0;
    }
    return one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
           one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

}  // namespace dlmgr
