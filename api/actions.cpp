// Server handles and the single-action operations of the terminal server.
#include <cstdlib>
#include <cstring>

#include "api/server.h"
#include "api/bound.h"
#include "api/textform.h"
#include "include/velquor.h"
#include "support/errors.h"
#include "support/format.h"
#include "support/process.h"

namespace {

const size_t kServerNameLimit = 255;

// A single call of the entry point `member` of the binding on the server,
// opened through the entry points of form Char, once both are bound: its
// refusal is recorded under `place`.
template <class Char, class Fn, class Action>
LONG OnServer(ExportCall& call, LPCSTR server, Fn BoundEntryPoints::*member, LONG failure, const char* place,
              Action action)
{
    const Fn entry = call.Bound().Entry.*member;
    if (!xServesForm<Char>(call.Bound(), entry))
        return QRVTS_NOT_AVAILABLE;
    const Place<Char> where(place);
    return xOnServer<Char>(server,
                           [&](HANDLE h) { return action(entry, h) ? xSucceeded() : xRefused(where, failure); });
}

// The server's name in the platform's form, in a buffer of the longest.
LONG PlatformName(LPCSTR server, char (&name)[kServerNameLimit + 1])
{
    if (strlen(server) > kServerNameLimit)
        return QRVTS_BUFFER_TOO_SMALL;
    strcpy(name, server);
    return QRVTS_OK;
}

LONG PlatformName(LPCSTR server, WCHAR (&name)[kServerNameLimit + 1])
{
    const int units = xUtf8ToWideIn(server, name, int(kServerNameLimit + 1));
    return units == kNotUtf8 ? QRVTS_INVALID_PARAMETER : units == kTooLong ? QRVTS_BUFFER_TOO_SMALL : QRVTS_OK;
}

}  // namespace

template <class Char>
LONG xOpenServer(LPCSTR serverName, HANDLE* handle)
{
    if (!handle)
        return QRVTS_INVALID_PARAMETER;
    if (!serverName || !*serverName) {
        *handle = nullptr;  // the local server
        return QRVTS_OK;
    }
    Char name[kServerNameLimit + 1];
    const LONG named = PlatformName(serverName, name);
    if (named != QRVTS_OK)
        return named;
    BindingLease lease;
    const BindingTable& bound = lease.Bound();
    const TextEntryPoints<Char>& entries = xEntriesOf<Char>(bound.Entry);
    if (!xServesForm<Char>(bound, entries.OpenServer))
        return QRVTS_NOT_AVAILABLE;
    *handle = (entries.OpenServerEx ? entries.OpenServerEx : entries.OpenServer)(name);
    if (!*handle) {
        xRecordLastError(GetLastError(), Place<Char>("WTSOpenServer@X() : QRVTS_OpenServer$()"));
        return QRVTS_OPEN_SERVER_FAILED;
    }
    return QRVTS_OK;
}

template LONG xOpenServer<char>(LPCSTR, HANDLE*);
template LONG xOpenServer<WCHAR>(LPCSTR, HANDLE*);

extern "C" LONG QRVTS_CALL QRVTS_OpenServer(LPCSTR serverName, HANDLE* handle)
{
    ExportCall call;
    return xOpenServer<char>(serverName, handle);
}

extern "C" LONG QRVTS_CALL QRVTS_OpenServerUtf8(LPCSTR serverName, HANDLE* handle)
{
    ExportCall call;
    return xOpenServer<WCHAR>(serverName, handle);
}

void xCloseServer(HANDLE handle)
{
    if (!handle)
        return;  // the local server's null handle: nothing to close
    // The handle came from a binding; when the interpreter's termination has
    // since let it go, the binding made again closes it all the same.
    BindingLease lease;
    if (lease.Bound().Entry.WTSCloseServer)
        lease.Bound().Entry.WTSCloseServer(handle);
}

extern "C" LONG QRVTS_CALL QRVTS_CloseServer(HANDLE handle)
{
    ExportCall call;
    xCloseServer(handle);
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

namespace {

const char kDisconnectPlace[] = "WTSDisconnectSessionX() : QRVTS_DisconnectSession$()";
const char kLogoffPlace[] = "WTSLogoffSessionX() : QRVTS_LogoffSession$()";

// Disconnecting and logging off: the same call of one entry point or the other.
template <class Char>
LONG SessionAction(WTSSessionActionFn BoundEntryPoints::*member, LONG failure, const char* place,
                   LPCSTR serverName, DWORD sessionId, BOOL wait)
{
    ExportCall call;
    return OnServer<Char>(call, serverName, member, failure, place,
                          [&](auto entry, HANDLE h) { return entry(h, sessionId, wait); });
}

template <class Char>
LONG Terminate(LPCSTR serverName, DWORD processId, DWORD exitCode)
{
    ExportCall call;
    return OnServer<Char>(call, serverName, &BoundEntryPoints::WTSTerminateProcess, QRVTS_TERMINATE_FAILED,
                          "WTSTerminateProcessX() : QRVTS_TerminateProcess$()",
                          [&](auto entry, HANDLE h) { return entry(h, processId, exitCode); });
}

// The waits in progress in this process, so that a flush asked for a server
// reaches the handles the library opened for them: the platform's flush
// ends only the waits on the handle it is given. Each is a record on its
// waiter's stack, in the list while its wait lasts; the list changes, and
// is walked, only under the library's lock, and the platform is called
// outside it. A flush pins the records it copies; the waiter leaves the
// list, then waits for the pins to go before it closes its handle.
struct PendingWait {
    PendingWait* next;
    const char* server;
    HANDLE handle;
    WTSWaitSystemEventFn wait;
    LONG flushedBy;       // the latest flush that took this record
    volatile LONG pins;   // flushes calling the platform with its handle
};
PendingWait* PendingWaits = nullptr;
volatile LONG Flushes = 0;

// Server names are compared without regard to the case of their letters A
// to Z, as the network's names are; other bytes must be the same.
bool SameServer(const char* a, const char* b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (a = a ? a : "", b = b ? b : ""; *a && lower(*a) == lower(*b); ++a, ++b) {
    }
    return lower(*a) == lower(*b);
}

class PendingWaitScope {
public:
    PendingWaitScope(const char* server, HANDLE handle, WTSWaitSystemEventFn wait)
        : wait_{nullptr, server, handle, wait, 0, 0}
    {
        ProcessLock lock;
        wait_.next = PendingWaits;
        PendingWaits = &wait_;
    }
    ~PendingWaitScope()
    {
        {
            ProcessLock lock;
            for (PendingWait** at = &PendingWaits; *at; at = &(*at)->next)
                if (*at == &wait_) {
                    *at = wait_.next;
                    break;
                }
        }
        while (wait_.pins)
            Sleep(0);
    }
    PendingWaitScope(const PendingWaitScope&) = delete;
    PendingWaitScope& operator=(const PendingWaitScope&) = delete;

private:
    PendingWait wait_;
};

// Up to `size` waits on `server` that flush `flush` has not taken yet,
// pinned; how many.
size_t TakePendingWaits(const char* server, LONG flush, PendingWait** taken, size_t size)
{
    ProcessLock lock;
    size_t n = 0;
    for (PendingWait* w = PendingWaits; w && n < size; w = w->next)
        if (w->flushedBy != flush && SameServer(w->server, server)) {
            w->flushedBy = flush;
            InterlockedIncrement(&w->pins);
            taken[n++] = w;
        }
    return n;
}

// Ends every wait this process has in progress on `server`, while its
// handle is still open.
void FlushPendingWaits(const char* server)
{
    const LONG flush = InterlockedIncrement(&Flushes);
    PendingWait* taken[16];
    for (size_t n; (n = TakePendingWaits(server, flush, taken, 16)) > 0;)
        for (size_t i = 0; i < n; ++i) {
            DWORD ignored = 0;
            taken[i]->wait(taken[i]->handle, WTS_EVENT_FLUSH, &ignored);
            InterlockedDecrement(&taken[i]->pins);
        }
}

template <class Char>
LONG WaitEvent(LPCSTR serverName, DWORD eventMask, DWORD* eventFlags)
{
    ExportCall call;
    if (!eventFlags)
        return QRVTS_INVALID_PARAMETER;
    if (eventMask & WTS_EVENT_FLUSH) {
        // The platform's flush ends the waits on the handle it is given; a
        // handle opened for it would have none. The library's own waits on
        // that server are what it can reach.
        if (!xServesForm<Char>(call.Bound(), call.Bound().Entry.WTSWaitSystemEvent))
            return QRVTS_NOT_AVAILABLE;
        FlushPendingWaits(serverName);
        *eventFlags = WTS_EVENT_NONE;
        return QRVTS_OK;
    }
    return OnServer<Char>(call, serverName, &BoundEntryPoints::WTSWaitSystemEvent, QRVTS_WAIT_FAILED,
                          "WTSWaitSystemEventX() : QRVTS_WaitSystemEvent$()", [&](auto entry, HANDLE h) {
                              PendingWaitScope pending(serverName, h, entry);
                              return entry(h, eventMask, eventFlags);
                          });
}

template <class Char>
LONG Shutdown(LPCSTR serverName, DWORD flags)
{
    ExportCall call;
    if (flags == 0)
        return QRVTS_INVALID_PARAMETER;
    return OnServer<Char>(call, serverName, &BoundEntryPoints::WTSShutdownSystem, QRVTS_SHUTDOWN_FAILED,
                          "WTSShutdownSystemX() : QRVTS_ShutdownSystem$()",
                          [&](auto entry, HANDLE h) { return entry(h, flags); });
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_DisconnectSession(LPCSTR serverName, DWORD sessionId, BOOL wait)
{
    return SessionAction<char>(&BoundEntryPoints::WTSDisconnectSession, QRVTS_DISCONNECT_FAILED, kDisconnectPlace,
                               serverName, sessionId, wait);
}

extern "C" LONG QRVTS_CALL QRVTS_DisconnectSessionUtf8(LPCSTR serverName, DWORD sessionId, BOOL wait)
{
    return SessionAction<WCHAR>(&BoundEntryPoints::WTSDisconnectSession, QRVTS_DISCONNECT_FAILED, kDisconnectPlace,
                                serverName, sessionId, wait);
}

extern "C" LONG QRVTS_CALL QRVTS_LogoffSession(LPCSTR serverName, DWORD sessionId, BOOL wait)
{
    return SessionAction<char>(&BoundEntryPoints::WTSLogoffSession, QRVTS_LOGOFF_FAILED, kLogoffPlace, serverName,
                               sessionId, wait);
}

extern "C" LONG QRVTS_CALL QRVTS_LogoffSessionUtf8(LPCSTR serverName, DWORD sessionId, BOOL wait)
{
    return SessionAction<WCHAR>(&BoundEntryPoints::WTSLogoffSession, QRVTS_LOGOFF_FAILED, kLogoffPlace, serverName,
                                sessionId, wait);
}

extern "C" LONG QRVTS_CALL QRVTS_TerminateProcess(LPCSTR serverName, DWORD processId, DWORD exitCode)
{
    return Terminate<char>(serverName, processId, exitCode);
}

extern "C" LONG QRVTS_CALL QRVTS_TerminateProcessUtf8(LPCSTR serverName, DWORD processId, DWORD exitCode)
{
    return Terminate<WCHAR>(serverName, processId, exitCode);
}

extern "C" LONG QRVTS_CALL QRVTS_WaitSystemEvent(LPCSTR serverName, DWORD eventMask, DWORD* eventFlags)
{
    return WaitEvent<char>(serverName, eventMask, eventFlags);
}

extern "C" LONG QRVTS_CALL QRVTS_WaitSystemEventUtf8(LPCSTR serverName, DWORD eventMask, DWORD* eventFlags)
{
    return WaitEvent<WCHAR>(serverName, eventMask, eventFlags);
}

extern "C" LONG QRVTS_CALL QRVTS_ShutdownSystem(LPCSTR serverName, DWORD flags)
{
    return Shutdown<char>(serverName, flags);
}

extern "C" LONG QRVTS_CALL QRVTS_ShutdownSystemUtf8(LPCSTR serverName, DWORD flags)
{
    return Shutdown<WCHAR>(serverName, flags);
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

// The message box's title and text in the platform's form, copied because
// the platform's entry points take them as writable.
template <class Char>
LONG Send(LPCSTR serverName, DWORD sessionId, LPCSTR title, LPCSTR message, DWORD style, DWORD timeout, BOOL wait,
          DWORD* response)
{
    ExportCall call;
    if (!response)
        return QRVTS_INVALID_PARAMETER;
    const auto send = xEntriesOf<Char>(call.Bound().Entry).SendMessageBox;
    if (!xServesForm<Char>(call.Bound(), send))
        return QRVTS_NOT_AVAILABLE;
    const Place<Char> copyFailed("xAllocPrintf() {returned NULL pointer} : QRVTS_SendMessage$()");
    const Place<Char> sendFailed("WTSSendMessage@X() : QRVTS_SendMessage$()");
    return xOnServer<Char>(serverName, [&](HANDLE handle) {
        const CallerText<Char> heading(title);
        if (heading.invalid)
            return ServerOutcome{QRVTS_INVALID_PARAMETER, 0, nullptr};
        if (!heading.text)
            return xNoMemory(copyFailed);
        const CallerText<Char> text(message);
        if (text.invalid)
            return ServerOutcome{QRVTS_INVALID_PARAMETER, 0, nullptr};
        if (!text.text)
            return xNoMemory(copyFailed);
        if (!send(handle, sessionId, heading.text, TextForm<Char>::MessageLength(heading.units), text.text,
                  TextForm<Char>::MessageLength(text.units), style, timeout, response, wait))
            return xRefused(sendFailed, QRVTS_SEND_MESSAGE_FAILED);
        return xSucceeded();
    });
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_SendMessage(LPCSTR serverName, DWORD sessionId, LPCSTR title, LPCSTR message,
                                             DWORD style, DWORD timeout, BOOL wait, DWORD* response)
{
    return Send<char>(serverName, sessionId, title, message, style, timeout, wait, response);
}

extern "C" LONG QRVTS_CALL QRVTS_SendMessageUtf8(LPCSTR serverName, DWORD sessionId, LPCSTR title,
                                                 LPCSTR message, DWORD style, DWORD timeout, BOOL wait,
                                                 DWORD* response)
{
    return Send<WCHAR>(serverName, sessionId, title, message, style, timeout, wait, response);
}
