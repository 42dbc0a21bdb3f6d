// The loader's entry point. No exception may leave it: an exception through
// the loader ends the host process.
#include <windows.h>

#include "log/assert.h"
#include "module/process_attach.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    try {
        switch (reason) {
            case DLL_PROCESS_ATTACH:
                return dlmgr::OnProcessAttach() ? TRUE : FALSE;
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
