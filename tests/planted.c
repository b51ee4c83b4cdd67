/* A library planted where a program runs, under the name of a library the
 * DLL asks for: when its code runs it leaves a mark, the file named by
 * VELQUOR_PLANTED_MARK, holding the name it was loaded under. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    char mark[MAX_PATH], name[MAX_PATH];
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH || !GetEnvironmentVariableA("VELQUOR_PLANTED_MARK", mark, MAX_PATH))
        return TRUE;
    HANDLE file = CreateFileA(mark, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD length = GetModuleFileNameA(self, name, MAX_PATH), written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, name, length, &written, NULL);
        CloseHandle(file);
    }
    return TRUE;
}
