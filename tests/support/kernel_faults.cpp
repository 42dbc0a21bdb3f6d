#include "tests/support/kernel_faults.h"

#include <shellapi.h>
#include <shlwapi.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace dlmgr::test {

namespace {

// The module's own code, as offsets into its image, read from the linker's
// map beside it: calls from the runtime linked into it (thread support, the
// C++ library) are not the module's to handle.
struct CodeRange {
    std::uintptr_t begin;
    std::uintptr_t end;
};
std::vector<CodeRange> ownCode;

bool ReadOwnCode(const std::string& mapPath) {
    std::ifstream map(mapPath);
    std::string line;
    std::string section;
    std::uintptr_t imageBase = 0;
    std::vector<CodeRange> found;
    while (std::getline(map, line)) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (line.find("__image_base__ = ") != std::string::npos) {
            imageBase = static_cast<std::uintptr_t>(std::stoull(first, nullptr, 16));
            continue;
        }
        if (!line.empty() && line[0] == ' ' && line[1] == '.') {
            section = first;
            std::string address;
            if (!(words >> address)) continue;  // the address is on the next line
            first = address;
        } else if (first.rfind("0x", 0) != 0) {
            section.clear();
            continue;
        }
        std::string size, object;
        if (section.rfind(".text", 0) != 0 || !(words >> size >> object)) continue;
        const auto begin = static_cast<std::uintptr_t>(std::stoull(first, nullptr, 16));
        if (begin == 0 || (object.find("libdlmgr_core.a(") == std::string::npos &&
                           object.find("CMakeFiles/dlmgr.dir/") == std::string::npos)) {
            continue;
        }
        found.push_back({begin, begin + static_cast<std::uintptr_t>(std::stoull(size, nullptr, 16))});
        section.clear();
    }
    if (imageBase == 0 || found.empty()) return false;
    for (CodeRange& range : found) {
        range.begin -= imageBase;
        range.end -= imageBase;
    }
    ownCode = found;
    return true;
}

bool InOwnCode(void* address, HMODULE module) {
    const auto offset = reinterpret_cast<std::uintptr_t>(address) -
                        reinterpret_cast<std::uintptr_t>(module);
    for (const CodeRange& range : ownCode) {
        if (offset >= range.begin && offset < range.end) return true;
    }
    return false;
}

volatile LONG armed = 0;
const char* onlyCall = nullptr;  // null: every call counts
volatile LONG failAt = 0;
volatile LONG counted = 0;
HMODULE faultyModule = nullptr;

// True for the call that is to fail: one made from the module's own code
// (its image holds the return address) while armed, when it is the nth.
bool FailThisCall(void* returnAddress, const char* name) {
    if (armed == 0) return false;
    if (faultyModule == nullptr) faultyModule = ::GetModuleHandleA("dlmgr.dll");
    if (faultyModule == nullptr || !InOwnCode(returnAddress, faultyModule)) return false;
    if (onlyCall != nullptr && std::strcmp(onlyCall, name) != 0) return false;
    if (::InterlockedIncrement(&counted) != failAt) return false;
    // Quoted with the child's output should the host then crash or hang.
    std::printf("failing call %ld: %s, at offset 0x%lx of the module\n", static_cast<long>(failAt),
                name,
                static_cast<unsigned long>(static_cast<BYTE*>(returnAddress) -
                                           reinterpret_cast<BYTE*>(faultyModule)));
    std::fflush(stdout);
    return true;
}

// One stub per call: the failure value and the error it leaves.
#define DLMGR_FAULT(dll, name, result, failure, error, params, args)                      \
    decltype(&::name) original_##name = nullptr;                                            \
    result WINAPI Fault_##name params {                                                    \
        if (FailThisCall(__builtin_return_address(0), #name)) {                             \
            ::SetLastError(error);                                                          \
            return failure;                                                                 \
        }                                                                                   \
        return original_##name args;                                                        \
    }
#include "tests/support/kernel_fault_list.h"
#undef DLMGR_FAULT

// The export table entry of name in module, or null.
DWORD* ExportEntry(HMODULE module, const char* name) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0) return nullptr;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), name) == 0) {
            return &functions[ordinals[i]];
        }
    }
    return nullptr;
}

#ifdef _WIN64
// An export table holds 32-bit offsets from its module: a stub elsewhere is
// reached through a jump placed above the module, within reach.
BYTE* JumpArea(HMODULE module) {
    const auto base = reinterpret_cast<std::uintptr_t>(module);
    for (std::uintptr_t at = base + 0x1000000; at < base + 0xF0000000; at += 0x100000) {
        void* area = ::VirtualAlloc(reinterpret_cast<void*>(at), 0x10000, MEM_RESERVE | MEM_COMMIT,
                                    PAGE_EXECUTE_READWRITE);
        if (area != nullptr) return static_cast<BYTE*>(area);
    }
    return nullptr;
}
#endif

bool Patch(const char* dll, const char* name, void* stub, void** original) {
    const HMODULE module = ::LoadLibraryA(dll);
    if (module == nullptr) return false;
    DWORD* entry = ExportEntry(module, name);
    if (entry == nullptr) return false;
    *original = reinterpret_cast<void*>(::GetProcAddress(module, name));
    auto target = reinterpret_cast<std::uintptr_t>(stub);
#ifdef _WIN64
    static HMODULE areaModule = nullptr;
    static BYTE* area = nullptr;
    static size_t used = 0;
    if (areaModule != module || used + 16 > 0x10000) {
        area = JumpArea(module);
        areaModule = module;
        used = 0;
    }
    if (area == nullptr) return false;
    BYTE* jump = area + used;
    used += 16;
    const BYTE code[6] = {0xFF, 0x25, 0, 0, 0, 0};  // jmp [rip+0], then the address
    std::memcpy(jump, code, sizeof(code));
    std::memcpy(jump + sizeof(code), &target, sizeof(target));
    target = reinterpret_cast<std::uintptr_t>(jump);
#endif
    DWORD old = 0;
    if (!::VirtualProtect(entry, sizeof(DWORD), PAGE_READWRITE, &old)) return false;
    *entry = static_cast<DWORD>(target - reinterpret_cast<std::uintptr_t>(module));
    ::VirtualProtect(entry, sizeof(DWORD), old, &old);
    return true;
}

}  // namespace

bool InstallKernelFaults(const std::string& modulePath) {
    bool ok = ReadOwnCode(modulePath + ".map");
#define DLMGR_FAULT(dll, name, result, failure, error, params, args)                        \
    ok = Patch(dll, #name, reinterpret_cast<void*>(&Fault_##name),                            \
               reinterpret_cast<void**>(&original_##name)) && ok;
#include "tests/support/kernel_fault_list.h"
#undef DLMGR_FAULT
    return ok;
}

void ArmKernelFault(int nth) { ArmKernelFault(nth, nullptr); }

void ArmKernelFault(int nth, const char* only) {
    onlyCall = only;
    ::InterlockedExchange(&counted, 0);
    ::InterlockedExchange(&failAt, nth);
    ::InterlockedExchange(&armed, 1);
}

int DisarmKernelFault() {
    ::InterlockedExchange(&armed, 0);
    return static_cast<int>(counted);
}

}  // namespace dlmgr::test
