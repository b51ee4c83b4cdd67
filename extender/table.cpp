#include "extender/table.h"

#include <windows.h>
#include <cstring>

#include "extender/handlers.h"

namespace {

const int32_t kFunctionKind = 2;  // a function returning a value
const uint8_t kTexts[4] = {0x11, 0x11, 0x01, 0x00};  // every argument a text
const uint8_t kSevenTexts[4] = {0x11, 0x11, 0x11, 0x01};
const bool kUnbound = true, kBound = false;

}  // namespace

#define ROW(number, name, required, optional, types, unbound, handler) \
    {number, name, required, optional, {types[0], types[1], types[2], types[3]}, unbound, handler}

const ScriptFunction ScriptFunctions[kFunctionCount] = {
    ROW(1, "wtsversion", 0, 1, kTexts, kUnbound, WtsVersion),
    ROW(2, "wtslasterrmsg", 1, 0, kTexts, kUnbound, WtsLastErrMsg),
    ROW(3, "wtsistsenabled", 0, 1, kTexts, kUnbound, WtsIsTsEnabled),
    ROW(4, "wtsprocidtosessid", 1, 0, kTexts, kBound, WtsProcIdToSessId),
    ROW(5, "wtsenumsessions", 1, 1, kTexts, kBound, WtsEnumSessions),
    ROW(6, "wtsenumprocesses", 1, 2, kTexts, kBound, WtsEnumProcesses),
    ROW(7, "wtsdisconnectsession", 3, 0, kTexts, kBound, WtsDisconnectSession),
    ROW(8, "wtslogoffsession", 3, 0, kTexts, kBound, WtsLogoffSession),
    ROW(9, "wtsterminateprocess", 3, 0, kTexts, kBound, WtsTerminateProcess),
    ROW(10, "wtssendmessage", 7, 0, kSevenTexts, kBound, WtsSendMessage),
    ROW(11, "wtsquerysessioninfo", 2, 0, kTexts, kBound, WtsQuerySessionInfo),
    ROW(12, "wtswaitsystemevent", 2, 0, kTexts, kBound, WtsWaitSystemEvent),
    ROW(13, "wtsgetactiveconsolesessid", 0, 0, kTexts, kBound, WtsGetActiveConsoleSessId),
    ROW(14, "wtsshutdownsystem", 2, 0, kTexts, kBound, WtsShutdownSystem),
    ROW(15, "wtstest", 3, 0, kTexts, kBound, WtsTest),
    ROW(16, "wtsiscitrixenabled", 0, 1, kTexts, kUnbound, WtsIsCitrixEnabled),
};
#undef ROW

const ScriptFunction* xFindFunction(int request)
{
    for (const ScriptFunction& f : ScriptFunctions)
        if (f.RequestNumber == request)
            return &f;
    return nullptr;
}

int xDescribeFunction(int index, FunctionTableEntry* record)
{
    if (index < 0 || index >= kFunctionCount)
        return 0;  // the terminator, or outside the table
    const ScriptFunction& row = ScriptFunctions[index];
    if (!record)
        return 1;
    record->RequestNumber = row.RequestNumber;
    record->FunctionKind = kFunctionKind;
    memcpy(record->ArgTypeCodes, row.ArgTypeCodes, 4);
    record->Reserved0 = 0;
    record->RequiredArgs = row.RequiredArgs;
    record->OptionalArgs = row.OptionalArgs;
    record->Reserved1[0] = record->Reserved1[1] = 0;
    record->NameLength = uint16_t(strlen(row.Name));
    memcpy(record->Name, row.Name, strlen(row.Name) + 1);
    CharLowerA(record->Name);
    return 1;
}
