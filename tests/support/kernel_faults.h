// Kernel calls of the module made to fail, one at a time, in a test process:
// before the module is loaded, the export tables of the system DLLs it
// imports from are patched so that the module's imports resolve to stubs.
// A stub counts the calls that come from the module's own code (anything
// else, the runtime linked into the module included, passes through uncounted) and fails the one the test names, with the
// failure value and error a real failure of that call would give. Nothing is
// changed on the module's side: its fast path runs as shipped.
#pragma once

#include <windows.h>

#include <string>

namespace dlmgr::test {

// Patches the export tables; once per process, before the module at
// modulePath loads. Its linker map (modulePath + ".map") tells its own code.
bool InstallKernelFaults(const std::string& modulePath);

// From now on, counts the module's calls and fails the nth (1-based; 0
// fails none).
void ArmKernelFault(int nth);
// The same, counting only the calls of one function (e.g. "WriteFile").
void ArmKernelFault(int nth, const char* only);
// Stops failing; the number of calls counted since ArmKernelFault.
int DisarmKernelFault();

}  // namespace dlmgr::test
