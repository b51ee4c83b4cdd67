// The interpreter side of the extender interface: value records, the
// service block with its array, binary-buffer and last-error services, and
// the completion routine. Shared by the command-line host and the tests.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "extender/interp.h"
#include "extender/table.h"

const int32_t ValueArray = 3;  // this host's mark for an array variable

struct HostValue {
    int32_t type = ValueAbsent;  // ValueInteger, ValueString or ValueArray
    int32_t integer = 0;
    std::string text;
};

// What the completion routine received.
struct Completion {
    int32_t status = 0;
    HostValue value;
    std::vector<HostValue> elements;  // when the value is an array
    int calls = 0;
};

// A service told to fail answers `code` on its `after`-th call from now.
struct ServiceFailure {
    int after = 0;  // 0: never
    int32_t code = 0;
    int calls = 0;
    bool Due();
};

struct Host {
    HostServiceBlock block;  // first: the extender receives its address
    std::map<int32_t, std::vector<HostValue>> arrays;
    std::map<int32_t, std::vector<uint8_t>> buffers;
    std::map<int32_t, int32_t> bufferEnds;
    std::vector<std::string> lastErrorTexts;
    Completion completion;
    int32_t completionResult = 77;  // what the completion routine returns
    int32_t nextId = 1;
    ServiceFailure arrayAllocate, arrayItem, arrayFree, binBufAllocate, binBufPointer, binBufEnd;

    explicit Host(uint32_t hostVersion = 1006);
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
};

// The extender's entry points, found in a loaded DLL by decorated name.
struct Extender {
    HMODULE module = nullptr;
    int32_t(WINAPI* Extender2)(HWND, int32_t, void*, int32_t, CompleteRequestFn, HostServiceBlock*, int32_t,
                               void*, int32_t, HostVariable*) = nullptr;
    int32_t(WINAPI* Query)(int32_t, void*, int32_t) = nullptr;
    int32_t(WINAPI* Version)(int32_t) = nullptr;
    int(WINAPI* LoadString)(HMODULE, UINT, char*, int) = nullptr;

    bool Load(const char* path);
};

// The host's completion routine; its opaque value is the Host.
int32_t WINAPI HostCompleteRequest(int32_t status, void* opaque, HostServiceBlock* block, HostVariable* result);

// Request -1; `message` receives a failure text.
int32_t HostInitialise(Host& host, const Extender& ext, std::string* message);

// Request -2 for every index until the terminator.
std::vector<FunctionTableEntry> HostReadTable(Host& host, const Extender& ext);

// A script call: `args` are texts, a null pointer for an absent argument.
int32_t HostCall(Host& host, const Extender& ext, int32_t request, const std::vector<const char*>& args);

// The request number of a script function, 0 when the table lacks it.
int32_t HostFindFunction(const std::vector<FunctionTableEntry>& table, const std::string& name);
