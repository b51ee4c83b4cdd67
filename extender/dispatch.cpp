// The entry points: interface agreement, version, and the dispatch frame
// every request runs in.
#include "extender/entry.h"

#include <cstdint>
#include <cstring>

#include "extender/binding.h"
#include "extender/request.h"
#include "extender/table.h"
#include "include/velquor_errors.h"
#include "support/errors.h"
#include "support/platform.h"
#include "support/process.h"
#include "support/strings.h"
#include "velquor_version.h"

namespace {

const int32_t kExtenderVersion[4] = {VELQUOR_VERSION_1, VELQUOR_VERSION_2, VELQUOR_VERSION_3, VELQUOR_VERSION_4};
const int kTitleBufferSize = 256;

int Finish(Request& r, int32_t status)
{
    if (!r.Complete)
        return -1;
    return r.Complete(status, r.Opaque, r.Block, r.Result);
}

void ReadArguments(Request& r, const HostVariable* args)
{
    for (int k = 0; k < 16; ++k)
        r.Args[k] = (args && args[k].ValueType != ValueAbsent) ? args[k].StringValue : nullptr;
}

// Hands a last-error record to the interpreter when the recording thread is
// inside one of its calls and its interface is recent enough to take it.
// Failures of plain C API callers reach the settings file and their
// thread's code only.
void TellInterpreter(const char* record)
{
    HostServiceBlock* block = xCallServiceBlock();
    if (block && block->HostVersion >= kHostVersionLastErrorText && block->LastErrorTextService)
        block->LastErrorTextService(block->HostContext, record);
}

// The recorder learns of the interpreter when the library is loaded.
const bool kInterpreterListens = (xLastErrorListener = TellInterpreter, true);

int Initialise(HostServiceBlock* block, char* message)
{
    if (!block || block->HostVersion < kHostVersionRequired) {
        if (message)
            lstrcpyA(message, "Need newer version of ZEL DLL");
        return -1;
    }
    return xInitialiseBinding(message);
}

}  // namespace

HostServiceBlock* xCallServiceBlock() { return static_cast<HostServiceBlock*>(xThreadValue(ThreadCallContextSlot)); }

InterpreterCall::InterpreterCall(HostServiceBlock* block) : outer_(xCallServiceBlock())
{
    xSetThreadValue(ThreadCallContextSlot, block);
}

InterpreterCall::~InterpreterCall() { xSetThreadValue(ThreadCallContextSlot, outer_); }

int xCompleteInteger(Request& r, int32_t value)
{
    if (r.Result) {
        r.Result->ValueType = ValueInteger;
        r.Result->IntValue = value;
    }
    return Finish(r, 0);
}

int xCompleteText(Request& r, const char* text)
{
    if (r.Result) {
        r.Result->ValueType = ValueString;
        r.Result->StringValue = const_cast<char*>(text);
    }
    return Finish(r, 0);
}

int xCompleteArray(Request& r, HostVariable* array)
{
    return r.Complete ? r.Complete(0, r.Opaque, r.Block, array) : -1;
}

int xFailRequest(Request& r, int errorNumber)
{
    if (r.Result) {
        r.Result->ValueType = ValueString;
        r.Result->StringValue = r.Message;
    }
    ZELExLoadString(PlatformInfo.ModuleHandle, UINT(errorNumber), r.Message, kMessageBufferSize);
    return Finish(r, -1);
}

// A number whose digits do not fit in 32 bits (above 4294967295, or below
// -2147483648) is not an integer: wrapped, it would name another target.
bool IsIntegerText(const char* text)
{
    const char* p = text;
    while (*p == ' ')
        ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    const uint64_t largest = negative ? 0x80000000ull : 0xFFFFFFFFull;
    uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if ((value = value * 10u + uint64_t(*p - '0')) > largest)
            return false;
    return *p == '\0';
}

int32_t ParseInteger(const char* text)
{
    const char* p = text;
    while (*p == ' ')
        ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    uint32_t value = 0;  // IsIntegerText has seen that the digits fit
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + uint32_t(*p - '0');
    return int32_t(negative ? 0u - value : value);
}

bool xNumberArg(const char* text, int32_t fallback, int32_t* value)
{
    if (!text || !*text) {
        *value = fallback;
        return true;
    }
    if (!IsIntegerText(text))
        return false;
    *value = ParseInteger(text);
    return true;
}

bool xFlagArg(const char* text, int32_t* value)
{
    if (!xNumberArg(text, 0, value))
        return false;
    *value = *value != 0;
    return true;
}

extern "C" int32_t WINAPI ZELExtender2(HWND, int32_t, void* opaque, int32_t requestArg, CompleteRequestFn complete,
                                       HostServiceBlock* block, int32_t, void* pointer, int32_t index,
                                       HostVariable* result)
{
    InterpreterCall call(block);
    const int request = int16_t(requestArg & 0xFFFF);
    switch (request) {
    case -1: return Initialise(block, static_cast<char*>(pointer));
    case -2: return xDescribeFunction(index, static_cast<FunctionTableEntry*>(pointer));
    case -3: xTerminateBinding(); return 1;
    default: break;
    }
    // The binding the interpreter's initialisation made, held for the whole
    // request; after termination nothing is bound.
    BindingLease lease;
    Request r = {opaque, complete, block, result, {}, &lease.Current(), {}};
    // The function's row, looked up once: it says whether the request works
    // before the terminal services are bound, and which handler serves it.
    const ScriptFunction* function = xFindFunction(request);
    if (request >= 0) {
        if (!(function && function->WorksUnbound) && !r.Binding->ServicesBound)
            return xFailRequest(r, QRVTS_NOT_ENABLED);
        ReadArguments(r, static_cast<const HostVariable*>(pointer));
    }
    if (!function)
        return xFailRequest(r, QRVTS_UNKNOWN_FUNCTION);
    return function->Handler(r);
}

extern "C" int32_t WINAPI ZELExtenderQuery(int32_t typeArg, void* pointer, int32_t count)
{
    const int type = int16_t(typeArg & 0xFFFF);
    if (type == 1) {
        if (pointer && count > 0) {
            char title[kTitleBufferSize];
            ZELExLoadString(PlatformInfo.ModuleHandle, QRVTS_TITLE_STRING, title, kTitleBufferSize);
            lstrcpynA(static_cast<char*>(pointer), title, count);
        }
        return kExtenderVersion[0];
    }
    if (type == 2) {
        const int32_t* values = static_cast<const int32_t*>(pointer);
        for (int32_t i = 0; values && i < count; ++i) {
            if (values[i] == 4)
                return 4;
        }
        return -1;
    }
    return 0;
}

extern "C" int32_t WINAPI ZELExVersion(int32_t index)
{
    return (index >= 0 && index <= 3) ? kExtenderVersion[index] : -1;
}
