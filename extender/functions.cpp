// The script functions: each validates its argument texts, does its work
// and ends the request with a value or an extender error number.
#include <cstdlib>

#include "extender/binding.h"
#include "extender/entry.h"
#include "extender/handlers.h"
#include "extender/request.h"
#include "include/velquor.h"
#include "support/format.h"
#include "support/platform.h"
#include "support/strings.h"

// A selector from 0 to `highest`, 0 when absent or empty.
static bool Selector(const char* text, int32_t highest, int32_t* value)
{
    return xNumberArg(text, 0, value) && *value >= 0 && *value <= highest;
}

int WtsVersion(Request& r)
{
    int32_t selector;
    if (!Selector(r.Args[0], 3, &selector))
        return xFailRequest(r, QRVTS_INVALID_REQUEST);
    if (selector == 0)
        return xCompleteInteger(r, ZELExVersion(0));
    if (selector == 1)
        return WtsVersionArray(r);
    if (selector == 3)
        return WtsVersionBuffer(r);
    char* text = nullptr;
    xAllocPrintf(&text, "%d.%d.%d.%d", ZELExVersion(0), ZELExVersion(1), ZELExVersion(2), ZELExVersion(3));
    int result = xCompleteText(r, text ? text : "");
    free(text);
    return result;
}

int WtsLastErrMsg(Request& r)
{
    int32_t number = 0;
    const char* text = r.Args[0] ? r.Args[0] : "";
    if (IsIntegerText(text))
        number = ParseInteger(text);
    // Number 0 makes the message texts choose their language again.
    if (ZELExLoadString(PlatformInfo.ModuleHandle, UINT(number), r.Message, kMessageBufferSize) == 0)
        r.Message[0] = '\0';
    return xCompleteText(r, r.Message);
}

int WtsIsTsEnabled(Request& r)
{
    int32_t selector;
    if (!Selector(r.Args[0], 2, &selector))
        return xFailRequest(r, QRVTS_INVALID_REQUEST);
    const DWORD answers[] = {r.Binding->ServicesBound, r.Binding->ProductPresent, 0};
    return xCompleteInteger(r, int32_t(answers[selector]));
}

int WtsIsCitrixEnabled(Request& r)
{
    int32_t selector;
    if (!Selector(r.Args[0], 3, &selector))
        return xFailRequest(r, QRVTS_INVALID_REQUEST);
    const DWORD answers[] = {r.Binding->WfapiLoaded, r.Binding->ApsdkLoaded, r.Binding->SmcapiLoaded, 0};
    return xCompleteInteger(r, int32_t(answers[selector]));
}

// A session id where the empty text means the caller's own session.
static bool SessionArg(const char* text, int32_t* value) { return xNumberArg(text, -1, value); }

// A required number whose empty text is refused too.
static bool RequiredNumber(const char* text, int32_t* value)
{
    return text && *text && xNumberArg(text, 0, value);
}

// Ends the request with `value` when `result` is success, else with the
// error. Callers compute `result` first: the value is an output of that call.
static int IntegerOrError(Request& r, LONG result, int32_t value)
{
    return result == QRVTS_OK ? xCompleteInteger(r, value) : xFailRequest(r, int(result));
}

int WtsProcIdToSessId(Request& r)
{
    const char* text = r.Args[0] ? r.Args[0] : "";
    if (!IsIntegerText(text))
        return xFailRequest(r, QRVTS_INVALID_PROCESS_ID);
    DWORD session = 0;
    const LONG result = QRVTS_ProcessIdToSessionId(DWORD(ParseInteger(text)), &session);
    return IntegerOrError(r, result, int32_t(session));
}

typedef LONG(QRVTS_CALL* SessionAction)(LPCSTR, DWORD, BOOL);

static int OnSession(Request& r, SessionAction action)
{
    int32_t session, wait;
    if (!SessionArg(r.Args[1], &session))
        return xFailRequest(r, QRVTS_INVALID_SESSION_ID);
    if (!xFlagArg(r.Args[2], &wait))
        return xFailRequest(r, QRVTS_INVALID_PARAMETER);
    return IntegerOrError(r, action(r.Args[0], DWORD(session), wait), 1);
}

int WtsDisconnectSession(Request& r) { return OnSession(r, QRVTS_DisconnectSession); }
int WtsLogoffSession(Request& r) { return OnSession(r, QRVTS_LogoffSession); }

int WtsTerminateProcess(Request& r)
{
    int32_t process, exitCode;
    if (!RequiredNumber(r.Args[1], &process))
        return xFailRequest(r, QRVTS_INVALID_PROCESS_ID);
    if (!xNumberArg(r.Args[2], 0, &exitCode))
        return xFailRequest(r, QRVTS_INVALID_EXIT_CODE);
    return IntegerOrError(r, QRVTS_TerminateProcess(r.Args[0], DWORD(process), DWORD(exitCode)), 1);
}

int WtsSendMessage(Request& r)
{
    int32_t session, style, timeout, wait;
    if (!RequiredNumber(r.Args[1], &session))
        return xFailRequest(r, QRVTS_INVALID_SESSION_ID);
    if (!xNumberArg(r.Args[4], 0, &style))
        return xFailRequest(r, QRVTS_INVALID_STYLE);
    if (!xNumberArg(r.Args[5], 0, &timeout))
        return xFailRequest(r, QRVTS_INVALID_TIMEOUT);
    if (!xFlagArg(r.Args[6], &wait))
        return xFailRequest(r, QRVTS_INVALID_PARAMETER);
    DWORD response = 0;
    LONG result = QRVTS_SendMessage(r.Args[0], DWORD(session), r.Args[2], r.Args[3], DWORD(style),
                                    DWORD(timeout), wait, &response);
    return IntegerOrError(r, result, int32_t(response));
}

int WtsWaitSystemEvent(Request& r)
{
    int32_t mask;
    if (!RequiredNumber(r.Args[1], &mask))
        return xFailRequest(r, QRVTS_INVALID_EVENT_MASK);
    DWORD events = 0;
    const LONG result = QRVTS_WaitSystemEvent(r.Args[0], DWORD(mask), &events);
    return IntegerOrError(r, result, int32_t(events));
}

int WtsGetActiveConsoleSessId(Request& r)
{
    DWORD session = 0;
    const LONG result = QRVTS_GetActiveConsoleSessionId(&session);
    return IntegerOrError(r, result, int32_t(session));
}

int WtsShutdownSystem(Request& r)
{
    int32_t flags;
    if (!xNumberArg(r.Args[1], 0, &flags))
        return xFailRequest(r, QRVTS_INVALID_SESSION_ID);
    return IntegerOrError(r, QRVTS_ShutdownSystem(r.Args[0], DWORD(flags)), 1);
}

// Queries one information class directly and discards what it reads.
static void QueryClass(const BoundEntryPoints& entry, const char* server, DWORD session, int infoClass)
{
    HANDLE handle = nullptr;
    if (QRVTS_OpenServer(server, &handle) != QRVTS_OK)
        return;
    LPSTR buffer = nullptr;
    DWORD bytes = 0;
    if (entry.Ansi.QuerySessionInformation)
        entry.Ansi.QuerySessionInformation(handle, session, WTS_INFO_CLASS(infoClass), &buffer, &bytes);
    if (entry.WTSFreeMemory)
        entry.WTSFreeMemory(buffer);
    buffer = nullptr;
    bytes = 0;
    QRVTS_CloseServer(handle);
}

int WtsTest(Request& r)
{
    int32_t session, infoClass;
    if (!xNumberArg(r.Args[1], 0, &session))
        return xFailRequest(r, QRVTS_INVALID_SESSION_ID);
    if (!xNumberArg(r.Args[2], 0, &infoClass) || infoClass < -1 || infoClass > WTSClientProtocolType)
        return xFailRequest(r, QRVTS_INVALID_REQUEST);
    const int first = infoClass < 0 ? WTSInitialProgram : infoClass, last = infoClass < 0 ? WTSClientProtocolType : infoClass;
    for (int c = first; c <= last; ++c)
        QueryClass(r.Binding->Entry, r.Args[0], DWORD(session), c);
    return xCompleteInteger(r, 1);
}

