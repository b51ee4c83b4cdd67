#include "support/errors.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/format.h"
#include "support/platform.h"
#include "support/procaddr.h"
#include "support/process.h"

ShellSeam ShellBinding = {::LoadLibraryA, ::GetProcAddress, ::FreeLibrary, ::GetWindowsDirectoryA};
LastErrorListener xLastErrorListener;

namespace {

typedef HRESULT(WINAPI* SHGetFolderPathAFn)(HWND, int, HANDLE, DWORD, LPSTR);
const int kAppData = 26;  // CSIDL_APPDATA

bool Missing(const char* text) { return !text || !*text; }

// The application-data folder through the shell, or the empty text.
void ApplicationDataFolder(char* buffer)
{
    buffer[0] = '\0';
    HMODULE shell32 = xLoadSystemLibrary("SHELL32.DLL", ShellBinding.LoadLibraryA);
    HMODULE shfolder = nullptr;
    FARPROC entry = shell32 ? ShellBinding.GetProcAddress(shell32, "SHGetFolderPathA") : nullptr;
    if (!entry) {
        shfolder = xLoadSystemLibrary("SHFOLDER.DLL", ShellBinding.LoadLibraryA);
        entry = shfolder ? ShellBinding.GetProcAddress(shfolder, "SHGetFolderPathA") : nullptr;
    }
    if (entry && FAILED(xProcAs<SHGetFolderPathAFn>(entry)(nullptr, kAppData, nullptr, 0, buffer)))
        buffer[0] = '\0';
    if (shell32)
        ShellBinding.FreeLibrary(shell32);
    if (shfolder)
        ShellBinding.FreeLibrary(shfolder);
}

bool EndsInSeparator(char* text)
{
    char* end = text;
    while (*end)
        end = CharNextA(end);
    return *CharPrevA(text, end) == '\\';
}

// Appends `text` when it fits in `size` characters with the terminator.
bool Append(char* buffer, int size, const char* text)
{
    const size_t used = strlen(buffer), more = strlen(text);
    if (used + more >= size_t(size))
        return false;
    memcpy(buffer + used, text, more + 1);
    return true;
}

bool MakeFolder(const char* path)
{
    return CreateDirectoryA(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

int xGetSettingsFolder(char* buffer, int size)
{
    ApplicationDataFolder(buffer);
    if (!buffer[0] && ShellBinding.GetWindowsDirectoryA(buffer, UINT(size)) >= UINT(size))
        buffer[0] = '\0';
    // Without either folder there is no settings folder: a relative one
    // would put the file wherever the program happens to run.
    if (!buffer[0] || (!EndsInSeparator(buffer) && !Append(buffer, size, "\\")))
        return 0;
    if (!Append(buffer, size, "Tavrik") || !MakeFolder(buffer))
        return 0;
    return Append(buffer, size, "\\Settings") && MakeFolder(buffer) ? 1 : 0;
}

BOOL xWriteSetting(const char* section, const char* key, const char* value, const char* fileName)
{
    char path[MAX_PATH];
    if (!xGetSettingsFolder(path, MAX_PATH))
        return FALSE;
    if (!Append(path, MAX_PATH, "\\") || !Append(path, MAX_PATH, fileName))
        return FALSE;  // the whole path must fit: nothing is written elsewhere
    return WritePrivateProfileStringA(section, key, value, path);
}

int xRecordError(const char* fileName, const char* section, const char* key, const char* format, ...)
{
    if (Missing(fileName) || Missing(section) || Missing(key) || Missing(format))
        return 0;
    va_list args;
    va_start(args, format);
    char* text = nullptr;
    const int size = xAllocVPrintf(&text, format, args);
    va_end(args);
    if (!text)
        return 0;
    if (xLastErrorListener)
        xLastErrorListener(text);
    const BOOL written = xWriteSetting(section, key, text, fileName);
    free(text);
    return written ? size - 1 : 0;
}

DWORD xThreadLastErrorCode() { return DWORD(reinterpret_cast<uintptr_t>(xThreadValue(ThreadErrorCodeSlot))); }

void xClearThreadLastErrorCode() { xSetThreadValue(ThreadErrorCodeSlot, nullptr); }

void xRecordLastError(DWORD code, const char* place)
{
    xSetThreadValue(ThreadErrorCodeSlot, reinterpret_cast<void*>(uintptr_t(code)));
    xRecordError("qrvtavrk.ini", "Velquor", "LastError", "%X \"%s\"", code, place);
}
