#include "tools/dlmgrctl/module_loading.h"

#include <windows.h>

#include <stdexcept>
#include <string>

#include "tools/dlmgrctl/store_inspection.h"
#include "tools/dlmgrctl/system_error.h"

namespace dlmgrctl {

namespace {

constexpr int kOwnBits = sizeof(void*) * 8;

// 32 or 64 from the file's PE header; 0 when it is no PE image of either.
int BitsOfImage(const std::string& path) {
    std::string bytes;
    if (!ReadFileBytes(path, bytes) || bytes.size() < 0x40) return 0;
    const auto offset = *reinterpret_cast<const DWORD*>(bytes.data() + 0x3C);
    if (offset > bytes.size() - 6 || bytes.compare(offset, 4, std::string("PE\0\0", 4)) != 0) return 0;
    const auto machine = *reinterpret_cast<const WORD*>(bytes.data() + offset + 4);
    return machine == IMAGE_FILE_MACHINE_I386 ? 32 : machine == IMAGE_FILE_MACHINE_AMD64 ? 64 : 0;
}

}  // namespace

std::string ModuleBesideUs() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    const std::string own(path, length);
    return own.substr(0, own.find_last_of('\\') + 1) + "dlmgr.dll";
}

void RequireModule() {
    if (::LoadLibraryA("dlmgr.dll") != nullptr) return;  // kept for the process's life
    const DWORD error = ::GetLastError();
    const std::string beside = ModuleBesideUs();
    if (::GetFileAttributesA(beside.c_str()) == INVALID_FILE_ATTRIBUTES) {
        throw std::runtime_error("dlmgr.dll (" + std::to_string(kOwnBits) +
                                 "-bit) not found beside dlmgrctl.exe");
    }
    const int bits = BitsOfImage(beside);
    if (bits != 0 && bits != kOwnBits) {
        throw std::runtime_error("dlmgr.dll beside dlmgrctl.exe is " + std::to_string(bits) +
                                 "-bit; this dlmgrctl is " + std::to_string(kOwnBits) + "-bit");
    }
    throw std::runtime_error("cannot load dlmgr.dll: " + SystemErrorText(error));
}

}  // namespace dlmgrctl
