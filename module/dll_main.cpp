// The loader's entry point. No exception may leave it: an exception through
// the loader ends the host process.
#include <windows.h>

#include "log/assert.h"
#include "module/process_attach.h"

namespace {

// Once attached, the module stays until its process ends: a host that loads
// and frees it on demand would otherwise leak, each cycle, the runtime's
// thread-local slot and the table's views, and could unload the code under
// one of its threads that sits between a count and its copy, holding every
// host's store.
// Pinned only once the attach succeeded: a refused load must go.
void PinModule(HINSTANCE module) {
    HMODULE pinned = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCSTR>(module), &pinned);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    try {
        switch (reason) {
            case DLL_PROCESS_ATTACH:
                if (!dlmgr::OnProcessAttach()) return FALSE;
                PinModule(module);
                return TRUE;
            case DLL_PROCESS_DETACH:
                dlmgr::OnProcessDetach();
                break;
            case DLL_THREAD_ATTACH:
                dlmgr::OnThreadAttach();
                break;
            case DLL_THREAD_DETACH:
                dlmgr::OnThreadDetach();
                break;
            default:
                break;
        }
    } catch (const dlmgr::AssertException&) {
        return FALSE;
    } catch (...) {
        return FALSE;
    }
    return TRUE;
}
