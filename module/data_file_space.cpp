#include "module/data_file_space.h"

namespace dlmgr {

namespace {

constexpr DWORD kChunkSize = 64 * 1024;

bool WriteAt(HANDLE file, DWORD offset, const BYTE* bytes, DWORD length, DWORD& error) {
    OVERLAPPED at = {};
    at.Offset = offset;
    DWORD written = 0;
    if (!::WriteFile(file, bytes, length, &written, &at)) {
        error = ::GetLastError();
        return false;
    }
    if (written != length) error = ERROR_DISK_FULL;
    return written == length;
}

}  // namespace

bool ClaimFileSpace(HANDLE file, DWORD size, bool rewriteExisting, DWORD& error) noexcept {
    error = ERROR_SUCCESS;
    LARGE_INTEGER current = {};
    if (!::GetFileSizeEx(file, &current)) {
        error = ::GetLastError();
        return false;
    }
    static BYTE chunk[kChunkSize];  // under the loader's lock: one attach at a time
    const DWORD existing = current.QuadPart < size ? static_cast<DWORD>(current.QuadPart) : size;
    for (DWORD offset = rewriteExisting ? 0 : existing; offset < size; offset += kChunkSize) {
        const DWORD length = size - offset < kChunkSize ? size - offset : kChunkSize;
        DWORD read = 0;
        ::ZeroMemory(chunk, length);
        if (offset < existing) {
            OVERLAPPED at = {};
            at.Offset = offset;
            const DWORD wanted = existing - offset < length ? existing - offset : length;
            if (!::ReadFile(file, chunk, wanted, &read, &at)) {
                error = ::GetLastError();
                return false;
            }
            if (read != wanted) {
                error = ERROR_HANDLE_EOF;
                return false;
            }
        }
        if (!WriteAt(file, offset, chunk, length, error)) return false;
    }
    return true;
}

}  // namespace dlmgr
