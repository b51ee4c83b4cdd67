// The library's entry routine: attach creates the process-wide state,
// detach by FreeLibrary gives all of it back. At process exit nothing is
// released: other threads are gone, and may have died holding the lock.
#include "api/bound.h"
#include "support/process.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        // Nothing here needs to hear of threads starting and ending.
        DisableThreadLibraryCalls(module);
        xProcessAttach(module);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        xReleaseAllBindings();
        xProcessDetach();
    }
    return TRUE;
}
