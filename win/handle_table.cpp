#include "win/handle_table.h"

#include <winternl.h>

#include "win/unique_resource.h"

namespace dlmgr {

namespace {

constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr int kObjectNameInformation = 1;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr ULONG kMaxTableBytes = 64u << 20;

struct HandleEntry {
    void* object;  // the kernel's object; null where the system does not say (Wine)
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};

struct HandleList {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

// A heap block for the list, freed with the scope.
class Buffer {
public:
    ~Buffer() { Reset(0); }
    bool Reset(ULONG bytes) noexcept {
        if (data_ != nullptr) ::HeapFree(::GetProcessHeap(), 0, data_);
        data_ = bytes == 0 ? nullptr : ::HeapAlloc(::GetProcessHeap(), 0, bytes);
        size_ = data_ != nullptr ? bytes : 0;
        return data_ != nullptr || bytes == 0;
    }
    void* data() const noexcept { return data_; }
    ULONG size() const noexcept { return size_; }

private:
    void* data_ = nullptr;
    ULONG size_ = 0;
};

union ObjectName {
    UNICODE_STRING name;
    BYTE bytes[1024];
};

}  // namespace

void HandleTable::Resolve() noexcept {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return;
    querySystem_ = reinterpret_cast<QuerySystem>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQuerySystemInformation")));
    queryObject_ = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryObject")));
}

bool HandleTable::Holders(HANDLE ours, ACCESS_MASK writeAccess, HandleHolders& holders) const noexcept {
    holders = HandleHolders();
    if (querySystem_ == nullptr || queryObject_ == nullptr || ours == nullptr) return false;
    ObjectName ourName = {};
    if (queryObject_(ours, kObjectNameInformation, &ourName, sizeof(ourName) - sizeof(wchar_t),
                     nullptr) < 0 ||
        ourName.name.Buffer == nullptr || ourName.name.Length == 0) {
        return false;
    }
    Buffer buffer;
    ULONG size = 256u << 10;
    LONG status = kInfoLengthMismatch;
    while (status == kInfoLengthMismatch && size <= kMaxTableBytes && buffer.Reset(size)) {
        status = querySystem_(kSystemExtendedHandleInformation, buffer.data(), buffer.size(), nullptr);
        size *= 2;
    }
    if (status < 0) return false;
    const auto* list = static_cast<const HandleList*>(buffer.data());
    const ULONG_PTR self = ::GetCurrentProcessId();
    // Our own entry gives the object's type and, where the system tells it,
    // the object itself.
    const HandleEntry* mine = nullptr;
    for (ULONG_PTR i = 0; i < list->count && mine == nullptr; ++i) {
        const HandleEntry& entry = list->entries[i];
        if (entry.processId == self && entry.handleValue == reinterpret_cast<ULONG_PTR>(ours)) mine = &entry;
    }
    if (mine == nullptr) return false;
    UniqueProcess process;
    ULONG_PTR processId = 0;
    for (ULONG_PTR i = 0; i < list->count; ++i) {
        const HandleEntry& entry = list->entries[i];
        if (entry.processId == self || entry.objectTypeIndex != mine->objectTypeIndex) continue;
        bool same = false;
        if (mine->object != nullptr) {
            same = entry.object == mine->object;
        } else {
            // Named by copying it here: a process we may not open keeps its
            // handles unknown, and they stay counted as writers.
            if (entry.processId != processId) {
                processId = entry.processId;
                process.reset(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, static_cast<DWORD>(processId)));
            }
            HANDLE copy = nullptr;
            if (!process || !::DuplicateHandle(process.get(), reinterpret_cast<HANDLE>(entry.handleValue),
                                               ::GetCurrentProcess(), &copy, 0, FALSE,
                                               DUPLICATE_SAME_ACCESS)) {
                continue;
            }
            const UniqueMapping held(copy);
            ObjectName name = {};
            same = queryObject_(copy, kObjectNameInformation, &name, sizeof(name) - sizeof(wchar_t),
                                nullptr) >= 0 &&
                   name.name.Length == ourName.name.Length &&
                   ::CompareStringOrdinal(name.name.Buffer, name.name.Length / sizeof(wchar_t),
                                          ourName.name.Buffer, ourName.name.Length / sizeof(wchar_t),
                                          FALSE) == CSTR_EQUAL;
        }
        if (!same) continue;
        ++holders.otherHandles;
        if (writeAccess != 0 && (entry.grantedAccess & writeAccess) == 0) {
            ++holders.readOnly;
            continue;
        }
        bool listed = false;
        for (int k = 0; k < holders.processCount && !listed; ++k) {
            listed = holders.processes[k] == static_cast<DWORD>(entry.processId);
        }
        if (!listed && holders.processCount < HandleHolders::kMaxProcesses) {
            holders.processes[holders.processCount++] = static_cast<DWORD>(entry.processId);
        }
    }
    return true;
}

}  // namespace dlmgr
