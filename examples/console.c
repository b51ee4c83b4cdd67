/* A C program linked against the import library: it calls the decorated
 * exports by their plain names through include/velquor.h. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "include/velquor.h"

int main(void)
{
    DWORD session = 0;
    HANDLE server = (HANDLE)1;
    char tooLong[300];
    LONG result;

    printf("Terminal Services present: %s\n", QRVTS_IsTerminalServiceProductPresent() ? "yes" : "no");
    result = QRVTS_GetActiveConsoleSessionId(&session);
    printf("console session: result %ld, session %lu\n", result, session);
    result = QRVTS_OpenServer("", &server);
    printf("local server: result %ld, handle %p\n", result, server);
    QRVTS_CloseServer(server);
    memset(tooLong, 'x', sizeof tooLong - 1);
    tooLong[sizeof tooLong - 1] = '\0';
    printf("a 299-character server name: result %ld\n", QRVTS_OpenServer(tooLong, &server));
    /* The terminal services are bound when the interpreter initialises the
     * extender; before that a platform operation is not available. */
    printf("process to session before binding: result %ld\n", QRVTS_ProcessIdToSessionId(GetCurrentProcessId(), &session));
    QRVTS_FreeBuffer(NULL);
    return 0;
}
