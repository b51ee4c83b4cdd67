// The library's entry routine: only process attach does any work.
#include "support/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    return xPlatformAttach(&PlatformInfo, module, reason);
}
