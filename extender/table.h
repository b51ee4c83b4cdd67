// The function table the interpreter reads through request -2.
#pragma once
#include <cstddef>
#include <cstdint>

struct FunctionTableEntry {
    int32_t RequestNumber;  // -1 marks the terminator
    int32_t FunctionKind;
    uint8_t ArgTypeCodes[4];
    int32_t Reserved0;
    uint8_t RequiredArgs;
    uint8_t OptionalArgs;
    uint8_t Reserved1[2];
    uint16_t NameLength;
    char Name[34];
};
static_assert(sizeof(FunctionTableEntry) == 56, "table rows are 56 bytes");
static_assert(offsetof(FunctionTableEntry, ArgTypeCodes) == 8, "ArgTypeCodes");
static_assert(offsetof(FunctionTableEntry, RequiredArgs) == 16, "RequiredArgs");
static_assert(offsetof(FunctionTableEntry, NameLength) == 20, "NameLength");
static_assert(offsetof(FunctionTableEntry, Name) == 22, "Name");

// One script function, every fact about it in one row: the describe
// request, the dispatch and the rule for requests before binding read it.
struct Request;
typedef int (*ScriptHandler)(Request& r);
struct ScriptFunction {
    int32_t RequestNumber;
    const char* Name;
    uint8_t RequiredArgs, OptionalArgs;
    uint8_t ArgTypeCodes[4];
    bool WorksUnbound;  // answers before the terminal services are bound
    ScriptHandler Handler;
};

const int kFunctionCount = 16;
extern const ScriptFunction ScriptFunctions[kFunctionCount];

// The row of request `request`, null when there is none.
const ScriptFunction* xFindFunction(int request);

// Fills the interpreter's record from row `index`; 0 at the terminator or
// outside the table, else 1.
int xDescribeFunction(int index, FunctionTableEntry* record);
