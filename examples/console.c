/* Lists the sessions and processes of a terminal server through the QRVTS_
 * functions alone: no interpreter, nothing to initialise. Build it against
 * include/velquor.h and the import library, put velquor.dll beside it (or on
 * the search path) and run
 *     console [server]
 * The library binds the terminal services on the first call that needs them;
 * when that fails, the program prints what is missing. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "velquor.h"

/* Copies the next TAB-delimited item of `*list` into `item` and moves on. */
static void NextItem(const char** list, char* item, size_t size)
{
    size_t n = 0;
    while (**list && **list != '\t') {
        if (n + 1 < size)
            item[n++] = **list;
        ++*list;
    }
    item[n] = '\0';
    if (**list == '\t')
        ++*list;
}

static int ListSessions(const char* server)
{
    SessionListRecord* sessions = NULL;
    const char *ids, *names, *states;
    char id[16], name[64], state[16];
    DWORD i;
    LONG result = QRVTS_EnumerateSessions(server, FALSE, &sessions);
    if (result != QRVTS_OK) {
        printf("sessions: error %ld\n", result);
        return (int)result;
    }
    printf("%lu sessions\n%-8s %-20s %s\n", sessions->Count, "ID", "NAME", "STATE");
    ids = sessions->SessionIds;
    names = sessions->SessionNames;
    states = sessions->SessionStates;
    for (i = 0; i < sessions->Count; ++i) {
        NextItem(&ids, id, sizeof id);
        NextItem(&names, name, sizeof name);
        NextItem(&states, state, sizeof state);
        printf("%-8s %-20s %s\n", id, name, state);
    }
    QRVTS_FreeBuffer(sessions);
    return 0;
}

static int ListProcesses(const char* server)
{
    ProcessListRecord* processes = NULL;
    const char *pids, *names, *sessions, *sids;
    char pid[16], name[64], session[16], sid[192];
    DWORD i;
    LONG result = QRVTS_EnumerateProcesses(server, 0xFFFFFFFF, FALSE, &processes);
    if (result != QRVTS_OK) {
        printf("processes: error %ld\n", result);
        return (int)result;
    }
    printf("%lu processes\n%-8s %-8s %-20s %s\n", processes->Count, "PID", "SESSION", "NAME", "USER SID");
    pids = processes->ProcessIds;
    names = processes->ProcessNames;
    sessions = processes->SessionIds;
    sids = processes->UserSids;
    for (i = 0; i < processes->Count; ++i) {
        NextItem(&pids, pid, sizeof pid);
        NextItem(&names, name, sizeof name);
        NextItem(&sessions, session, sizeof session);
        NextItem(&sids, sid, sizeof sid);
        printf("%-8s %-8s %-20s %s\n", pid, session, name, sid);
    }
    QRVTS_FreeBuffer(processes);
    return 0;
}

int main(int argc, char** argv)
{
    const char* server = argc > 1 ? argv[1] : "";
    char message[257];
    int sessionsFailed;
    LONG result = QRVTS_GetBindingMessage(message, sizeof message);
    if (result != QRVTS_OK) {
        printf("terminal services: error %ld: %s\n", result, message);
        return (int)result;
    }
    printf("server: %s\n", *server ? server : "(local)");
    sessionsFailed = ListSessions(server);
    result = ListProcesses(server);
    return sessionsFailed ? sessionsFailed : (int)result;
}
