/* Planted under a library's name where programs run: its code, when it runs,
 * leaves a mark in the file VELQUOR_PLANTED_MARK names. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    char mark[MAX_PATH];
    (void)self, (void)reserved;
    if (reason == DLL_PROCESS_ATTACH && GetEnvironmentVariableA("VELQUOR_PLANTED_MARK", mark, MAX_PATH))
        CloseHandle(CreateFileA(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    return TRUE;
}
