// The script functions: each validates its argument texts, does its work
// and ends the request with a value or an extender error number.
#include <cstdlib>

#include "extender/binding.h"
#include "extender/entry.h"
#include "extender/request.h"
#include "support/format.h"
#include "support/platform.h"
#include "support/strings.h"

namespace {

const int kNotYetImplemented = 902;

int NotYetImplemented(Request& r) { return xFailRequest(r, kNotYetImplemented); }

// A selector from 0 to `highest`, 0 when absent or empty.
bool Selector(const char* text, int32_t highest, int32_t* value)
{
    return xNumberArg(text, 0, value) && *value >= 0 && *value <= highest;
}

int WtsVersion(Request& r)
{
    int32_t selector;
    if (!Selector(r.Args[0], 3, &selector))
        return xFailRequest(r, 100);
    if (selector == 0)
        return xCompleteInteger(r, ZELExVersion(0));
    if (selector != 2)
        return NotYetImplemented(r);
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
    if (ZELExLoadString(PlatformInfo.ModuleHandle, UINT(number), MessageBuffer, kMessageBufferSize) == 0)
        MessageBuffer[0] = '\0';
    return xCompleteText(r, MessageBuffer);
}

int WtsIsTsEnabled(Request& r)
{
    int32_t selector;
    if (!Selector(r.Args[0], 2, &selector))
        return xFailRequest(r, 100);
    const DWORD answers[] = {ServicesBound, ProductPresent, 0};
    return xCompleteInteger(r, int32_t(answers[selector]));
}

int WtsIsCitrixEnabled(Request& r)
{
    int32_t selector;
    if (!Selector(r.Args[0], 3, &selector))
        return xFailRequest(r, 100);
    const DWORD answers[] = {WfapiLoaded, ApsdkLoaded, SmcapiLoaded, 0};
    return xCompleteInteger(r, int32_t(answers[selector]));
}

}  // namespace

const ScriptHandler ScriptHandlers[16] = {
    WtsVersion,         // 1 wtsversion
    WtsLastErrMsg,      // 2 wtslasterrmsg
    WtsIsTsEnabled,     // 3 wtsistsenabled
    NotYetImplemented,  // 4 wtsprocidtosessid
    NotYetImplemented,  // 5 wtsenumsessions
    NotYetImplemented,  // 6 wtsenumprocesses
    NotYetImplemented,  // 7 wtsdisconnectsession
    NotYetImplemented,  // 8 wtslogoffsession
    NotYetImplemented,  // 9 wtsterminateprocess
    NotYetImplemented,  // 10 wtssendmessage
    NotYetImplemented,  // 11 wtsquerysessioninfo
    NotYetImplemented,  // 12 wtswaitsystemevent
    NotYetImplemented,  // 13 wtsgetactiveconsolesessid
    NotYetImplemented,  // 14 wtsshutdownsystem
    NotYetImplemented,  // 15 wtstest
    WtsIsCitrixEnabled, // 16 wtsiscitrixenabled
};
