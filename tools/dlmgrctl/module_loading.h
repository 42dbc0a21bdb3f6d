// dlmgrctl and the viewer reach the library through a delay-load import: a
// missing dlmgr.dll, or one of the other pointer size, would end them in an
// unhandled exception at the first call. The library is loaded here first
// instead, and what is wrong is said.
#pragma once

#include <stdexcept>
#include <string>

namespace dlmgrctl {

// dlmgr.dll cannot be loaded: missing, of the other pointer size, or its
// start-up refused. dlmgrctl exits with 3 (kExitNoLibrary).
struct LibraryError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The path of the dlmgr.dll beside this program, which is the one it loads.
std::string ModuleBesideUs();

// 32 or 64 from a file's PE header; 0 when it is no PE image of either.
int BitsOfImage(const std::string& path);
constexpr int kOwnBits = sizeof(void*) * 8;

// Loads dlmgr.dll (its start-up runs); throws LibraryError saying why it
// cannot be loaded.
void RequireModule();

}  // namespace dlmgrctl
