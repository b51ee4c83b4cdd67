#include "host/exportname.h"
#include "host/host.h"

#include <cstring>

namespace {

Host* HostOf(void* context) { return static_cast<Host*>(context); }

HostValue Copy(const HostVariable& v)
{
    HostValue out;
    out.type = v.ValueType;
    if (v.ValueType == ValueInteger || v.ValueType == ValueArray)
        out.integer = v.IntValue;
    else if (v.ValueType == ValueString)
        out.text = v.StringValue ? v.StringValue : "";
    return out;
}

int32_t WINAPI ArrayService(void* context, HostVariable* array, int32_t size, int32_t* dims, int32_t dimBytes,
                            int32_t op)
{
    Host* host = HostOf(context);
    if (!array || size != int32_t(sizeof(HostVariable)))
        return -2;
    if (op == kArrayAllocate) {
        if (host->arrayAllocate.Due())
            return host->arrayAllocate.code;
        if (!dims || dimBytes != 20 || dims[0] < 0)
            return -3;
        const int32_t id = host->nextId++;
        host->arrays[id] = std::vector<HostValue>(size_t(dims[0]));
        array->ValueType = ValueArray;
        array->IntValue = id;
        return 0;
    }
    if (op == kArrayFree) {
        if (host->arrayFree.Due())
            return host->arrayFree.code;
        return host->arrays.erase(array->IntValue) ? 0 : -4;
    }
    return -5;
}

int32_t WINAPI ArrayItemService(void* context, HostVariable* array, int32_t i1, int32_t i2, int32_t i3, int32_t i4,
                                int32_t i5, HostVariable* value, int32_t size, int32_t op)
{
    Host* host = HostOf(context);
    if (host->arrayItem.Due())
        return host->arrayItem.code;
    if (!array || !value || size != int32_t(sizeof(HostVariable)) || op != kArraySetElement)
        return -2;
    auto found = host->arrays.find(array->IntValue);
    if (found == host->arrays.end() || i1 < 0 || size_t(i1) >= found->second.size() || i2 || i3 || i4 || i5)
        return -3;
    found->second[size_t(i1)] = Copy(*value);
    return 0;
}

int32_t WINAPI LastErrorTextService(void* context, const char* text)
{
    HostOf(context)->lastErrorTexts.push_back(text ? text : "");
    return 0;
}

int32_t WINAPI BinaryBufferService(void* context, int32_t handle, int32_t value, int32_t op)
{
    Host* host = HostOf(context);
    if (op == kBinBufAllocate) {
        if (host->binBufAllocate.Due())
            return host->binBufAllocate.code;
        const int32_t id = host->nextId++;
        host->buffers[id] = std::vector<uint8_t>(size_t(value));
        host->bufferEnds[id] = 0;
        return id;
    }
    auto found = host->buffers.find(handle);
    if (found == host->buffers.end())
        return -3;
    if (op == kBinBufDataPointer)
        return host->binBufPointer.Due() ? host->binBufPointer.code
                                         : int32_t(reinterpret_cast<intptr_t>(found->second.data()));
    if (op == kBinBufSetEnd) {
        if (host->binBufEnd.Due())
            return host->binBufEnd.code;
        if (value < 0 || size_t(value) > found->second.size())
            return -4;
        host->bufferEnds[handle] = value;
        return value;
    }
    return -5;
}

}  // namespace

bool ServiceFailure::Due()
{
    return after > 0 && ++calls == after;
}

Host::Host(uint32_t hostVersion)
{
    memset(&block, 0, sizeof block);
    block.HostVersion = hostVersion;
    block.HostContext = this;
    block.ArrayItemService = ArrayItemService;
    block.ArrayService = ArrayService;
    block.LastErrorTextService = LastErrorTextService;
    block.BinaryBufferService = BinaryBufferService;
}

int32_t WINAPI HostCompleteRequest(int32_t status, void* opaque, HostServiceBlock*, HostVariable* result)
{
    Host* host = static_cast<Host*>(opaque);
    Completion& c = host->completion;
    ++c.calls;
    c.status = status;
    c.value = result ? Copy(*result) : HostValue();
    c.elements.clear();
    if (result && result->ValueType == ValueArray) {
        auto found = host->arrays.find(result->IntValue);
        if (found != host->arrays.end())
            c.elements = found->second;
    }
    return host->completionResult;
}

template <class Fn>
static bool FindExport(HMODULE module, const char* name, Fn* slot)
{
    *slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, ExportName(name).c_str())));
    return *slot != nullptr;
}

bool Extender::Load(const char* path)
{
    module = LoadLibraryA(path);
    return module && FindExport(module, "_ZELExtender2@40", &Extender2) &&
           FindExport(module, "_ZELExtenderQuery@12", &Query) && FindExport(module, "_ZELExVersion@4", &Version) &&
           FindExport(module, "_ZELExLoadString@16", &LoadString);
}

int32_t HostInitialise(Host& host, const Extender& ext, std::string* message)
{
    char buffer[512] = "";
    int32_t result = ext.Extender2(nullptr, 0, &host, -1, HostCompleteRequest, &host.block, 0, buffer, 0, nullptr);
    if (message)
        *message = buffer;
    return result;
}

std::vector<FunctionTableEntry> HostReadTable(Host& host, const Extender& ext)
{
    std::vector<FunctionTableEntry> table;
    for (int32_t index = 0;; ++index) {
        FunctionTableEntry entry;
        memset(&entry, 0, sizeof entry);
        if (ext.Extender2(nullptr, 0, &host, -2, HostCompleteRequest, &host.block, 0, &entry, index, nullptr) == 0)
            break;
        table.push_back(entry);
    }
    return table;
}

int32_t HostCall(Host& host, const Extender& ext, int32_t request, const std::vector<const char*>& args)
{
    HostVariable vars[16];
    memset(vars, 0, sizeof vars);
    for (size_t k = 0; k < args.size() && k < 16; ++k) {
        if (args[k]) {
            vars[k].ValueType = ValueString;
            vars[k].StringValue = const_cast<char*>(args[k]);
        }
    }
    HostVariable result;
    memset(&result, 0, sizeof result);
    host.completion = Completion();
    return ext.Extender2(nullptr, 0, &host, request, HostCompleteRequest, &host.block, 0, vars, 0, &result);
}

int32_t HostFindFunction(const std::vector<FunctionTableEntry>& table, const std::string& name)
{
    for (const FunctionTableEntry& entry : table) {
        if (name == entry.Name)
            return entry.RequestNumber;
    }
    return 0;
}
