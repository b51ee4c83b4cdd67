/* A program linked the way MSVC links: by the LLVM linker in MSVC mode
 * against lib/velquor.lib, with no C runtime. It lists the sessions of the
 * simulated server through the decorated imports the library names. */
#include <windows.h>

#include "velquor.h"

static void Say(const char* text)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)lstrlenA(text), &written, NULL);
}

void __stdcall Start(void)
{
    char line[600];
    SessionListRecord* sessions = NULL;
    LONG result = QRVTS_EnumerateSessions("", FALSE, &sessions);
    wsprintfA(line, "msvc-linked: result %ld, %lu sessions: %s\r\n", result, sessions ? sessions->Count : 0,
              sessions ? sessions->SessionNames : "");
    Say(line);
    QRVTS_FreeBuffer(sessions);
    ExitProcess(result == QRVTS_OK ? 0 : 1);
}
