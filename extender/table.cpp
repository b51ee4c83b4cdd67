#include "extender/table.h"

#include <windows.h>
#include <cstring>

#define ROW(number, name, required, optional) \
    {number, 2, {0x11, 0x11, 0x01, 0x00}, 0, required, optional, {0, 0}, 0, name}

const FunctionTableEntry FunctionTable[kFunctionCount + 1] = {
    ROW(1, "wtsversion", 0, 1),
    ROW(2, "wtslasterrmsg", 1, 0),
    ROW(3, "wtsistsenabled", 0, 1),
    ROW(4, "wtsprocidtosessid", 1, 0),
    ROW(5, "wtsenumsessions", 1, 1),
    ROW(6, "wtsenumprocesses", 1, 2),
    ROW(7, "wtsdisconnectsession", 3, 0),
    ROW(8, "wtslogoffsession", 3, 0),
    ROW(9, "wtsterminateprocess", 3, 0),
    {10, 2, {0x11, 0x11, 0x11, 0x01}, 0, 7, 0, {0, 0}, 0, "wtssendmessage"},
    ROW(11, "wtsquerysessioninfo", 2, 0),
    ROW(12, "wtswaitsystemevent", 2, 0),
    ROW(13, "wtsgetactiveconsolesessid", 0, 0),
    ROW(14, "wtsshutdownsystem", 2, 0),
    ROW(15, "wtstest", 3, 0),
    ROW(16, "wtsiscitrixenabled", 0, 1),
    {-1, 0, {0, 0, 0, 0}, 0, 0, 0, {0, 0}, 0, ""},
};
#undef ROW

int xDescribeFunction(int index, FunctionTableEntry* record)
{
    if (index < 0 || index >= kFunctionCount)
        return 0;  // the terminator, or outside the table
    const FunctionTableEntry& row = FunctionTable[index];
    if (!record)
        return 1;
    record->RequestNumber = row.RequestNumber;
    record->FunctionKind = row.FunctionKind;
    memcpy(record->ArgTypeCodes, row.ArgTypeCodes, 4);
    record->Reserved0 = row.Reserved0;
    memcpy(&record->RequiredArgs, &row.RequiredArgs, 4);
    record->NameLength = uint16_t(strlen(row.Name));
    memcpy(record->Name, row.Name, strlen(row.Name) + 1);
    CharLowerA(record->Name);
    return 1;
}
