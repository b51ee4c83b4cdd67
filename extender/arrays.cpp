// Script functions that hand back interpreter arrays and binary buffers.
#include <windows.h>

#include <cstring>

#include "extender/entry.h"
#include "extender/handlers.h"
#include "extender/wrappers.h"
#include "include/velquor.h"
#include "support/errors.h"

namespace {

// One element: an integer, or a text when `text` is set.
struct Element {
    int32_t integer;
    const char* text;
};
Element Integer(DWORD value) { return {int32_t(value), nullptr}; }
Element String(const char* text) { return {0, text}; }

// Records a service's failure under "<wrapper>() : extender <function>()".
// The place is built on the stack: recording needs no allocation of its own
// and, when memory runs out, simply writes nothing.
void RecordServiceFailure(int32_t code, const char* wrapper, const char* function)
{
    char place[128];  // both names are the library's own, under 30 characters each
    wsprintfA(place, "%s() : extender %s()", wrapper, function);
    xRecordLastError(DWORD(code), place);
}

// Builds the array, completes the request with it and releases `block`
// afterwards, since the string elements point into it; every failure
// releases the block and discards a partly built array first.
int CompleteWithArray(Request& r, const char* function, const Element* elements, int32_t count, void* block)
{
    HostVariable array;
    memset(&array, 0, sizeof array);
    int32_t code = xAllocArray(&array, count, 0, 0, 0, 0);
    if (code != 0) {
        QRVTS_FreeBuffer(block);
        RecordServiceFailure(code, "xAllocArray", function);
        return xFailRequest(r, QRVTS_ARRAY_SERVICE_FAILED);
    }
    for (int32_t i = 0; i < count; ++i) {
        const Element& e = elements[i];
        code = e.text ? xSetArrayItemString(&array, i, 0, 0, 0, 0, e.text)
                      : xSetArrayItemLong(&array, i, 0, 0, 0, 0, e.integer);
        if (code != 0) {
            QRVTS_FreeBuffer(block);
            xFreeArray(&array);
            RecordServiceFailure(code, e.text ? "xSetArrayItemString" : "xSetArrayItemLong", function);
            return xFailRequest(r, QRVTS_ARRAY_SERVICE_FAILED);
        }
    }
    const int result = xCompleteArray(r, &array);
    QRVTS_FreeBuffer(block);
    return result;
}

}  // namespace

int WtsVersionArray(Request& r)
{
    const Element elements[4] = {Integer(DWORD(ZELExVersion(0))), Integer(DWORD(ZELExVersion(1))),
                                 Integer(DWORD(ZELExVersion(2))), Integer(DWORD(ZELExVersion(3)))};
    return CompleteWithArray(r, "wtsVersion", elements, 4, nullptr);
}

int WtsVersionBuffer(Request& r)
{
    int32_t handle = 0;
    int32_t code = xAllocBinBuf(16, &handle);
    if (code != 0) {
        RecordServiceFailure(code, "xAllocBinBuf", "wtsVersion");
        return xFailRequest(r, QRVTS_BUFFER_SERVICE_FAILED);
    }
    code = xSetBinBufEOD(handle, 16, nullptr);
    if (code != 0) {
        RecordServiceFailure(code, "xSetBinBufEOD", "wtsVersion");
        return xFailRequest(r, QRVTS_BUFFER_SERVICE_FAILED);
    }
    void* data = nullptr;
    code = xGetBinBufDataPtr(handle, &data);
    if (code != 0) {
        RecordServiceFailure(code, "xGetBinBufDataPtr", "wtsVersion");
        return xFailRequest(r, QRVTS_BUFFER_SERVICE_FAILED);
    }
    int32_t numbers[4];
    for (int i = 0; i < 4; ++i)
        numbers[i] = ZELExVersion(i);
    memcpy(data, numbers, sizeof numbers);  // little-endian int32, as the interpreter reads them
    return xCompleteInteger(r, handle);
}

int WtsEnumSessions(Request& r)
{
    int32_t extended;
    if (!xFlagArg(r.Args[1], &extended))
        return xFailRequest(r, QRVTS_INVALID_PARAMETER);
    SessionListRecord* block = nullptr;
    const LONG result = QRVTS_EnumerateSessions(r.Args[0], extended, &block);
    if (result != QRVTS_OK)
        return xFailRequest(r, int(result));
    const Element elements[4] = {Integer(block->Count), String(block->SessionIds), String(block->SessionNames),
                                 String(block->SessionStates)};
    return CompleteWithArray(r, "wtsEnumSessions", elements, 4, block);
}

int WtsEnumProcesses(Request& r)
{
    int32_t session, extended;
    if (!xNumberArg(r.Args[1], -1, &session))
        return xFailRequest(r, QRVTS_INVALID_SESSION_ID);
    if (!xFlagArg(r.Args[2], &extended))
        return xFailRequest(r, QRVTS_INVALID_PARAMETER);
    ProcessListRecord* block = nullptr;
    const LONG result = QRVTS_EnumerateProcesses(r.Args[0], DWORD(session), extended, &block);
    if (result != QRVTS_OK)
        return xFailRequest(r, int(result));
    const Element elements[5] = {Integer(block->Count), String(block->ProcessIds), String(block->ProcessNames),
                                 String(block->SessionIds), String(block->UserSids)};
    return CompleteWithArray(r, "wtsEnumProcesses", elements, 5, block);
}

int WtsQuerySessionInfo(Request& r)
{
    int32_t session;
    if (!xNumberArg(r.Args[1], -1, &session))
        return xFailRequest(r, QRVTS_INVALID_SESSION_ID);
    SessionInfoRecord* info = nullptr;
    const LONG result = QRVTS_QuerySessionInfo(r.Args[0], DWORD(session), &info);
    if (result != QRVTS_OK)
        return xFailRequest(r, int(result));
    const Element elements[23] = {
        String(info->WinStationName),       String(info->ConnectState),    String(info->ClientAddress),
        String(info->ClientName),           String(info->ClientProtocolType), Integer(info->ClientHardwareId),
        Integer(info->ClientProductId),     Integer(info->ClientBuildNumber), String(info->ClientDirectory),
        Integer(info->HorizontalResolution), Integer(info->VerticalResolution), Integer(info->ColorDepth),
        String(info->OEMId),                String(info->DomainName),      String(info->UserName),
        String(info->ApplicationName),      String(info->InitialProgram),  String(info->WorkingDirectory),
        String(info->CurrentTime),          String(info->LogonTime),       String(info->LastInputTime),
        String(info->ConnectTime),          String(info->DisconnectTime)};
    return CompleteWithArray(r, "wtsQuerySessionInfo", elements, 23, info);
}
