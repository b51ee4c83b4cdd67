// Server handles and the single-action operations of the terminal server.
#include <cstdlib>
#include <cstring>

#include "api/server.h"
#include "api/bound.h"
#include "include/velquor.h"
#include "support/errors.h"
#include "support/format.h"

namespace {

const size_t kServerNameLimit = 255;

// A single call of `entry` on the server, once it is bound: its refusal is
// recorded under `place`.
template <class Fn, class Action>
LONG OnServer(LPCSTR server, const Fn& entry, LONG failure, const char* place, Action action)
{
    if (!xServiceAvailable(entry))
        return QRVTS_NOT_AVAILABLE;
    return xOnServer(server, [&](HANDLE h) { return action(h) ? xSucceeded() : xRefused(place, failure); });
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_OpenServer(LPCSTR serverName, HANDLE* handle)
{
    if (!handle)
        return QRVTS_INVALID_PARAMETER;
    if (!serverName || !*serverName) {
        *handle = nullptr;  // the local server
        return QRVTS_OK;
    }
    if (strlen(serverName) > kServerNameLimit)
        return QRVTS_BUFFER_TOO_SMALL;
    if (!xServiceAvailable(Bound.WTSOpenServerA))
        return QRVTS_NOT_AVAILABLE;
    WTSOpenServerAFn open = Bound.WTSOpenServerExA ? Bound.WTSOpenServerExA : Bound.WTSOpenServerA;
    char copy[kServerNameLimit + 1];
    strcpy(copy, serverName);
    *handle = open(copy);
    if (!*handle) {
        xRecordLastError(GetLastError(), "WTSOpenServerAX() : QRVTS_OpenServer()");
        return QRVTS_OPEN_SERVER_FAILED;
    }
    return QRVTS_OK;
}

extern "C" LONG QRVTS_CALL QRVTS_CloseServer(HANDLE handle)
{
    if (handle && Bound.WTSCloseServer)
        Bound.WTSCloseServer(handle);
    return 0;
}

extern "C" void QRVTS_CALL QRVTS_FreeBuffer(void* buffer) { free(buffer); }

extern "C" LONG QRVTS_CALL QRVTS_ProcessIdToSessionId(DWORD processId, DWORD* sessionId)
{
    xEnsureBound();
    if (!Bound.ProcessIdToSessionId)
        return QRVTS_NOT_AVAILABLE;
    if (!sessionId)
        return QRVTS_INVALID_PARAMETER;
    if (!Bound.ProcessIdToSessionId(processId, sessionId)) {
        xRecordLastError(GetLastError(), "ProcessIdToSessionIdX() : QRVTS_ProcessIdtoSessionId()");
        return QRVTS_SESSION_ID_FAILED;
    }
    return QRVTS_OK;
}

extern "C" LONG QRVTS_CALL QRVTS_DisconnectSession(LPCSTR serverName, DWORD sessionId, BOOL wait)
{
    return OnServer(serverName, Bound.WTSDisconnectSession, QRVTS_DISCONNECT_FAILED,
                    "WTSDisconnectSessionX() : QRVTS_DisconnectSession()",
                    [&](HANDLE h) { return Bound.WTSDisconnectSession(h, sessionId, wait); });
}

extern "C" LONG QRVTS_CALL QRVTS_LogoffSession(LPCSTR serverName, DWORD sessionId, BOOL wait)
{
    return OnServer(serverName, Bound.WTSLogoffSession, QRVTS_LOGOFF_FAILED,
                    "WTSLogoffSessionX() : QRVTS_LogoffSession()",
                    [&](HANDLE h) { return Bound.WTSLogoffSession(h, sessionId, wait); });
}

extern "C" LONG QRVTS_CALL QRVTS_TerminateProcess(LPCSTR serverName, DWORD processId, DWORD exitCode)
{
    return OnServer(serverName, Bound.WTSTerminateProcess, QRVTS_TERMINATE_FAILED,
                    "WTSTerminateProcessX() : QRVTS_TerminateProcess()",
                    [&](HANDLE h) { return Bound.WTSTerminateProcess(h, processId, exitCode); });
}

extern "C" LONG QRVTS_CALL QRVTS_WaitSystemEvent(LPCSTR serverName, DWORD eventMask, DWORD* eventFlags)
{
    if (!eventFlags)
        return QRVTS_INVALID_PARAMETER;
    return OnServer(serverName, Bound.WTSWaitSystemEvent, QRVTS_WAIT_FAILED,
                    "WTSWaitSystemEventX() : QRVTS_WaitSystemEvent()",
                    [&](HANDLE h) { return Bound.WTSWaitSystemEvent(h, eventMask, eventFlags); });
}

extern "C" LONG QRVTS_CALL QRVTS_ShutdownSystem(LPCSTR serverName, DWORD flags)
{
    if (flags == 0)
        return QRVTS_INVALID_PARAMETER;
    return OnServer(serverName, Bound.WTSShutdownSystem, QRVTS_SHUTDOWN_FAILED,
                    "WTSShutdownSystemX() : QRVTS_ShutdownSystem()",
                    [&](HANDLE h) { return Bound.WTSShutdownSystem(h, flags); });
}

extern "C" LONG QRVTS_CALL QRVTS_GetActiveConsoleSessionId(DWORD* sessionId)
{
    if (!sessionId)
        return QRVTS_INVALID_PARAMETER;
    xEnsureBound();
    // A system without the service has its console in session 0.
    *sessionId = Bound.WTSGetActiveConsoleSessionId ? Bound.WTSGetActiveConsoleSessionId() : 0;
    return QRVTS_OK;
}

namespace {

const char kCopyFailed[] = "xAllocPrintf() {returned NULL pointer} : QRVTS_SendMessage()";
const char kSendFailed[] = "WTSSendMessageAX() : QRVTS_SendMessage()";

struct MessageCopies {
    char* title = nullptr;
    char* message = nullptr;
    ~MessageCopies()
    {
        free(title);
        free(message);
    }
};

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_SendMessage(LPCSTR serverName, DWORD sessionId, LPCSTR title, LPCSTR message,
                                             DWORD style, DWORD timeout, BOOL wait, DWORD* response)
{
    if (!response)
        return QRVTS_INVALID_PARAMETER;
    if (!xServiceAvailable(Bound.WTSSendMessageA))
        return QRVTS_NOT_AVAILABLE;
    return xOnServer(serverName, [&](HANDLE handle) {
        MessageCopies copies;
        xAllocPrintf(&copies.title, "%s", title ? title : "");
        if (copies.title)
            xAllocPrintf(&copies.message, "%s", message ? message : "");
        if (!copies.title || !copies.message)
            return xNoMemory(kCopyFailed);
        const DWORD titleLength = DWORD(lstrlenA(copies.title)), messageLength = DWORD(lstrlenA(copies.message));
        if (!Bound.WTSSendMessageA(handle, sessionId, copies.title, titleLength, copies.message, messageLength,
                                   style, timeout, response, wait))
            return xRefused(kSendFailed, QRVTS_SEND_MESSAGE_FAILED);
        return xSucceeded();
    });
}
