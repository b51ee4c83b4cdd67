// The interpreter's records and routines, as the extender relies on them.
// Every routine of the interpreter is __stdcall, like the extender's own.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>

enum HostValueType { ValueAbsent = 0, ValueInteger = 1, ValueString = 2 };

struct HostVariable {
    uint8_t Reserved0[24];
    int32_t IntValue;
    int32_t ValueType;
    char* StringValue;
    uint8_t Reserved1[4];
};

typedef int32_t(WINAPI* ArrayItemServiceFn)(void* context, HostVariable* array, int32_t i1, int32_t i2,
                                           int32_t i3, int32_t i4, int32_t i5, HostVariable* value,
                                           int32_t variableSize, int32_t operation);
typedef int32_t(WINAPI* ArrayServiceFn)(void* context, HostVariable* array, int32_t variableSize,
                                       int32_t* dimensions, int32_t dimensionBytes, int32_t operation);
typedef int32_t(WINAPI* LastErrorTextServiceFn)(void* context, const char* text);
typedef int32_t(WINAPI* BinaryBufferServiceFn)(void* context, int32_t handle, int32_t value, int32_t operation);

struct HostServiceBlock {
    uint32_t Reserved0[2];
    uint32_t HostVersion;
    uint32_t Reserved1[2];
    void* HostContext;
    uint32_t Reserved2[3];
    ArrayItemServiceFn ArrayItemService;
    ArrayServiceFn ArrayService;
    LastErrorTextServiceFn LastErrorTextService;
    BinaryBufferServiceFn BinaryBufferService;
};

typedef int32_t(WINAPI* CompleteRequestFn)(int32_t status, void* opaque, HostServiceBlock* block,
                                          HostVariable* result);

// Operation codes of the services.
const int32_t kArraySetElement = 2;
const int32_t kArrayAllocate = 2;
const int32_t kArrayFree = 4;
const int32_t kBinBufAllocate = 1;
const int32_t kBinBufDataPointer = 3;
const int32_t kBinBufSetEnd = 6;

// Interface versions: initialisation needs 1006; the last-error text service
// exists from 1005, the binary-buffer service from 1006.
const uint32_t kHostVersionRequired = 1006;
const uint32_t kHostVersionLastErrorText = 1005;
const uint32_t kHostVersionBinaryBuffers = 1006;

// The interpreter's layouts: its own (32-bit); a 64-bit interpreter holds the
// same members naturally aligned.
#define HOST_AT(x86, x64) (sizeof(void*) == 4 ? (x86) : (x64))
static_assert(sizeof(HostVariable) == HOST_AT(40, 48), "HostVariable is 40 bytes (48 in a 64-bit interpreter)");
static_assert(offsetof(HostVariable, IntValue) == 24, "IntValue");
static_assert(offsetof(HostVariable, ValueType) == 28, "ValueType");
static_assert(offsetof(HostVariable, StringValue) == 32, "StringValue");
static_assert(offsetof(HostServiceBlock, HostVersion) == 8, "HostVersion");
static_assert(offsetof(HostServiceBlock, HostContext) == HOST_AT(20, 24), "HostContext");
static_assert(offsetof(HostServiceBlock, ArrayItemService) == HOST_AT(36, 48), "ArrayItemService");
static_assert(offsetof(HostServiceBlock, ArrayService) == HOST_AT(40, 56), "ArrayService");
static_assert(offsetof(HostServiceBlock, LastErrorTextService) == HOST_AT(44, 64), "LastErrorTextService");
static_assert(offsetof(HostServiceBlock, BinaryBufferService) == HOST_AT(48, 72), "BinaryBufferService");
#undef HOST_AT
