#include "tools/dlmgrctl/module_loading.h"

#include <windows.h>

#include <string>

#include "tools/dlmgrctl/store_inspection.h"
#include "tools/dlmgrctl/system_error.h"

namespace dlmgrctl {

namespace {

std::string OwnPath() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    return std::string(path, length);
}

// "dlmgrctl.exe", or "dlmgrview.exe": whoever needs the library.
std::string OwnName() {
    const std::string own = OwnPath();
    return own.substr(own.find_last_of('\\') + 1);
}

// Where the SDK keeps the library of a pointer size.
std::string SdkFolder(int bits) { return bits == 64 ? "bin\\x64\\" : "bin\\"; }

}  // namespace

int BitsOfImage(const std::string& path) {
    std::string bytes;
    if (!ReadFileStart(path, 4096, bytes) || bytes.size() < 0x40) return 0;
    const auto offset = *reinterpret_cast<const DWORD*>(bytes.data() + 0x3C);
    if (offset > bytes.size() - 6 || bytes.compare(offset, 4, std::string("PE\0\0", 4)) != 0) return 0;
    const auto machine = *reinterpret_cast<const WORD*>(bytes.data() + offset + 4);
    return machine == IMAGE_FILE_MACHINE_I386 ? 32 : machine == IMAGE_FILE_MACHINE_AMD64 ? 64 : 0;
}

std::string ModuleBesideUs() {
    const std::string own = OwnPath();
    return own.substr(0, own.find_last_of('\\') + 1) + "dlmgr.dll";
}

void RequireModule() {
    if (::LoadLibraryA("dlmgr.dll") != nullptr) return;  // kept for the process's life
    const DWORD error = ::GetLastError();
    const std::string beside = ModuleBesideUs();
    const std::string own = std::to_string(kOwnBits) + "-bit";
    if (::GetFileAttributesA(beside.c_str()) == INVALID_FILE_ATTRIBUTES) {
        throw LibraryError("dlmgr.dll (" + own + ") not found beside " + OwnName() +
                           ": copy it there from the SDK's " + SdkFolder(kOwnBits));
    }
    const int bits = BitsOfImage(beside);
    if (bits != 0 && bits != kOwnBits) {
        throw LibraryError("dlmgr.dll beside " + OwnName() + " is " + std::to_string(bits) +
                           "-bit; this " + OwnName() + " is " + own + ": use the " + own +
                           " dlmgr.dll, in the SDK's " + SdkFolder(kOwnBits));
    }
    throw LibraryError("cannot load dlmgr.dll: " + SystemErrorText(error));
}

}  // namespace dlmgrctl
