// One script-function request inside the dispatch frame.
#pragma once
#include <cstdint>

#include "api/bound.h"
#include "extender/interp.h"

// The 257-byte buffer for message texts handed to the interpreter.
const int kMessageBufferSize = 257;

// Everything one request uses lives in the request: nothing of it is shared
// with another call or another thread.
struct Request {
    void* Opaque;
    CompleteRequestFn Complete;
    HostServiceBlock* Block;
    HostVariable* Result;
    const char* Args[16];  // null when absent
    // The binding as the request found it, held until the request ends.
    const BindingTable* Binding;
    // Message texts handed back as the string result; the interpreter copies
    // them before its completion routine returns.
    char Message[kMessageBufferSize];
};

// The interpreter's service block of the call the calling thread is inside,
// null outside the interpreter's calls.
HostServiceBlock* xCallServiceBlock();

// Marks the calling thread as inside a call of the interpreter's with
// `block`, for the scope; the mark before it comes back afterwards.
class InterpreterCall {
public:
    explicit InterpreterCall(HostServiceBlock* block);
    ~InterpreterCall();
    InterpreterCall(const InterpreterCall&) = delete;
    InterpreterCall& operator=(const InterpreterCall&) = delete;

private:
    HostServiceBlock* outer_;
};

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
