// One script-function request inside the dispatch frame.
#pragma once
#include <cstdint>

#include "extender/interp.h"

struct Request {
    void* Opaque;
    CompleteRequestFn Complete;
    HostServiceBlock* Block;
    HostVariable* Result;
    const char* Args[16];  // null when absent
};

// The 257-byte buffer for message texts handed to the interpreter.
const int kMessageBufferSize = 257;
extern char MessageBuffer[kMessageBufferSize];

// The interpreter's service block of the latest call.
extern HostServiceBlock* CurrentServiceBlock;

// Each ends the request through the completion routine and returns its result.
int xCompleteInteger(Request& r, int32_t value);
int xCompleteText(Request& r, const char* text);
int xCompleteArray(Request& r, HostVariable* array);
int xFailRequest(Request& r, int errorNumber);

// Script argument texts to numbers.
bool IsIntegerText(const char* text);
int32_t ParseInteger(const char* text);

// A number argument with a default: absent or empty gives `fallback`;
// false when the text is not an integer.
bool xNumberArg(const char* text, int32_t fallback, int32_t* value);
// A flag: any integer text (empty counts as 0), reduced to 0 or 1.
bool xFlagArg(const char* text, int32_t* value);
