// dlmgrctl reaches the module through a delay-load import: a missing
// dlmgr.dll, or one of the other pointer size, would end it in an unhandled
// exception at the first call. The module is loaded here first instead, and
// what is wrong is said.
#pragma once

#include <string>

namespace dlmgrctl {

// The path of the dlmgr.dll beside this program, which is the one it loads.
std::string ModuleBesideUs();

// Loads dlmgr.dll (its start-up runs); throws std::runtime_error saying why
// it cannot be loaded.
void RequireModule();

}  // namespace dlmgrctl
