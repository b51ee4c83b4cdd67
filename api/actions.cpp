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

// A single call of the entry point `member` of the binding on the server,
// once it is bound: its refusal is recorded under `place`.
template <class Fn, class Action>
LONG OnServer(ExportCall& call, LPCSTR server, Fn BoundEntryPoints::*member, LONG failure, const char* place,
              Action action)
{
    const Fn entry = call.Bound().Entry.*member;
    if (!xServes(call.Bound(), entry))
        return QRVTS_NOT_AVAILABLE;
    return xOnServer(server, [&](HANDLE h) { return action(entry, h) ? xSucceeded() : xRefused(place, failure); });
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_OpenServer(LPCSTR serverName, HANDLE* handle)
{
    ExportCall call;
    if (!handle)
        return QRVTS_INVALID_PARAMETER;
    if (!serverName || !*serverName) {
        *handle = nullptr;  // the local server
        return QRVTS_OK;
    }
    if (strlen(serverName) > kServerNameLimit)
        return QRVTS_BUFFER_TOO_SMALL;
    const BindingTable& bound = call.Bound();
    if (!xServes(bound, bound.Entry.WTSOpenServerA))
        return QRVTS_NOT_AVAILABLE;
    WTSOpenServerAFn open = bound.Entry.WTSOpenServerExA ? bound.Entry.WTSOpenServerExA : bound.Entry.WTSOpenServerA;
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
    ExportCall call;
    // The handle came from a binding; when the interpreter's termination has
    // since let it go, the binding made again closes it all the same.
    const BindingTable& bound = handle ? call.Bound() : call.Current();
    if (handle && bound.Entry.WTSCloseServer)
        bound.Entry.WTSCloseServer(handle);
    return 0;
}

extern "C" void QRVTS_CALL QRVTS_FreeBuffer(void* buffer) { free(buffer); }

extern "C" LONG QRVTS_CALL QRVTS_ProcessIdToSessionId(DWORD processId, DWORD* sessionId)
{
    ExportCall call;
    const ProcessIdToSessionIdFn toSession = call.Bound().Entry.ProcessIdToSessionId;
    if (!toSession)
        return QRVTS_NOT_AVAILABLE;
    if (!sessionId)
        return QRVTS_INVALID_PARAMETER;
    if (!toSession(processId, sessionId)) {
        xRecordLastError(GetLastError(), "ProcessIdToSessionIdX() : QRVTS_ProcessIdtoSessionId()");
        return QRVTS_SESSION_ID_FAILED;
    }
    return QRVTS_OK;
}

extern "C" LONG QRVTS_CALL QRVTS_DisconnectSession(LPCSTR serverName, DWORD sessionId, BOOL wait)
{
    ExportCall call;
    return OnServer(call, serverName, &BoundEntryPoints::WTSDisconnectSession, QRVTS_DISCONNECT_FAILED,
                    "WTSDisconnectSessionX() : QRVTS_DisconnectSession()",
                    [&](auto entry, HANDLE h) { return entry(h, sessionId, wait); });
}

extern "C" LONG QRVTS_CALL QRVTS_LogoffSession(LPCSTR serverName, DWORD sessionId, BOOL wait)
{
    ExportCall call;
    return OnServer(call, serverName, &BoundEntryPoints::WTSLogoffSession, QRVTS_LOGOFF_FAILED,
                    "WTSLogoffSessionX() : QRVTS_LogoffSession()",
                    [&](auto entry, HANDLE h) { return entry(h, sessionId, wait); });
}

extern "C" LONG QRVTS_CALL QRVTS_TerminateProcess(LPCSTR serverName, DWORD processId, DWORD exitCode)
{
    ExportCall call;
    return OnServer(call, serverName, &BoundEntryPoints::WTSTerminateProcess, QRVTS_TERMINATE_FAILED,
                    "WTSTerminateProcessX() : QRVTS_TerminateProcess()",
                    [&](auto entry, HANDLE h) { return entry(h, processId, exitCode); });
}

extern "C" LONG QRVTS_CALL QRVTS_WaitSystemEvent(LPCSTR serverName, DWORD eventMask, DWORD* eventFlags)
{
    ExportCall call;
    if (!eventFlags)
        return QRVTS_INVALID_PARAMETER;
    return OnServer(call, serverName, &BoundEntryPoints::WTSWaitSystemEvent, QRVTS_WAIT_FAILED,
                    "WTSWaitSystemEventX() : QRVTS_WaitSystemEvent()",
                    [&](auto entry, HANDLE h) { return entry(h, eventMask, eventFlags); });
}

extern "C" LONG QRVTS_CALL QRVTS_ShutdownSystem(LPCSTR serverName, DWORD flags)
{
    ExportCall call;
    if (flags == 0)
        return QRVTS_INVALID_PARAMETER;
    return OnServer(call, serverName, &BoundEntryPoints::WTSShutdownSystem, QRVTS_SHUTDOWN_FAILED,
                    "WTSShutdownSystemX() : QRVTS_ShutdownSystem()",
                    [&](auto entry, HANDLE h) { return entry(h, flags); });
}

extern "C" LONG QRVTS_CALL QRVTS_GetActiveConsoleSessionId(DWORD* sessionId)
{
    ExportCall call;
    if (!sessionId)
        return QRVTS_INVALID_PARAMETER;
    // A system without the service has its console in session 0.
    const WTSGetActiveConsoleSessionIdFn console = call.Bound().Entry.WTSGetActiveConsoleSessionId;
    *sessionId = console ? console() : 0;
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
    ExportCall call;
    if (!response)
        return QRVTS_INVALID_PARAMETER;
    const WTSSendMessageAFn send = call.Bound().Entry.WTSSendMessageA;
    if (!xServes(call.Bound(), send))
        return QRVTS_NOT_AVAILABLE;
    return xOnServer(serverName, [&](HANDLE handle) {
        MessageCopies copies;
        xAllocPrintf(&copies.title, "%s", title ? title : "");
        if (copies.title)
            xAllocPrintf(&copies.message, "%s", message ? message : "");
        if (!copies.title || !copies.message)
            return xNoMemory(kCopyFailed);
        const DWORD titleLength = DWORD(lstrlenA(copies.title)), messageLength = DWORD(lstrlenA(copies.message));
        if (!send(handle, sessionId, copies.title, titleLength, copies.message, messageLength, style, timeout,
                  response, wait))
            return xRefused(kSendFailed, QRVTS_SEND_MESSAGE_FAILED);
        return xSucceeded();
    });
}
