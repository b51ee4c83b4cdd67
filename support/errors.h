// The last-error record: handed to the interpreter and kept in the per-user
// settings file.
#pragma once
#include <windows.h>

// How the settings folder's parent is found: the shell library for the
// application-data folder, the Windows folder in its place. Tests replace
// members to make either missing.
struct ShellSeam {
    HMODULE(WINAPI* LoadLibraryA)(LPCSTR);
    FARPROC(WINAPI* GetProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* FreeLibrary)(HMODULE);
    UINT(WINAPI* GetWindowsDirectoryA)(LPSTR, UINT);
};
extern ShellSeam ShellBinding;

// Who else is told of each record: the extender points this at its
// listener, which tells the interpreter when the recording thread is inside
// one of its calls; null tells no one.
typedef void (*LastErrorListener)(const char* record);
extern LastErrorListener xLastErrorListener;

// Formats the record with `format` and writes it under `key` of `section`
// in `fileName` in the settings folder; tells the listener first. Returns the record's length when it was written, else 0.
int xRecordError(const char* fileName, const char* section, const char* key, const char* format, ...);

// The library's one record: `code` and the place of the failure. The code
// is also kept for the calling thread.
void xRecordLastError(DWORD code, const char* place);

// The code of the calling thread's latest record, 0 when it has none.
DWORD xThreadLastErrorCode();

// Forgets the calling thread's code: each export does so on entry, so that
// the code always describes the thread's latest call.
void xClearThreadLastErrorCode();

// Writes one value into `fileName` in the settings folder.
BOOL xWriteSetting(const char* section, const char* key, const char* value, const char* fileName);

// Finds (creating when needed) the per-user settings folder; 1 when `buffer`
// holds its path.
int xGetSettingsFolder(char* buffer, int size);
