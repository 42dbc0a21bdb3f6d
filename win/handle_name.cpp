#include "win/handle_name.h"

#include <winternl.h>

namespace dlmgr {

void HandleNamer::Resolve() noexcept {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    query_ = ntdll ? reinterpret_cast<QueryObject>(
                         reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryObject")))
                   : nullptr;
}

bool HandleNamer::NameStartsWith(HANDLE handle, const wchar_t* prefix) const noexcept {
    constexpr int kObjectNameInformation = 1;
    union {
        UNICODE_STRING name;
        BYTE bytes[1024];
    } info = {};
    if (query_ == nullptr || handle == nullptr ||
        query_(handle, kObjectNameInformation, &info, sizeof(info) - sizeof(wchar_t), nullptr) < 0 ||
        info.name.Buffer == nullptr) {
        return false;
    }
    const size_t length = info.name.Length / sizeof(wchar_t);
    size_t start = length;
    while (start > 0 && info.name.Buffer[start - 1] != L'\\') --start;
    const wchar_t* last = info.name.Buffer + start;
    const size_t lastLength = length - start;
    const size_t prefixLength = static_cast<size_t>(::lstrlenW(prefix));
    return prefixLength <= lastLength &&
           ::CompareStringOrdinal(last, static_cast<int>(prefixLength), prefix,
                                  static_cast<int>(prefixLength), FALSE) == CSTR_EQUAL;
}

}  // namespace dlmgr
