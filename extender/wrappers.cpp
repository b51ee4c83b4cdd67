#include "extender/wrappers.h"

#include <cstring>

#include "extender/request.h"

namespace {

const int32_t kFailed = -1;
const int32_t kVariableSize = int32_t(sizeof(HostVariable));

bool BinaryBuffersServed()
{
    HostServiceBlock* b = xCallServiceBlock();
    return b && b->HostVersion >= kHostVersionBinaryBuffers;
}

int32_t SetItem(HostVariable* array, const int32_t (&index)[5], HostVariable* value)
{
    HostServiceBlock* b = xCallServiceBlock();
    return b->ArrayItemService(b->HostContext, array, index[0], index[1], index[2], index[3], index[4], value,
                               kVariableSize, kArraySetElement);
}

}  // namespace

int32_t xAllocArray(HostVariable* array, int32_t d1, int32_t d2, int32_t d3, int32_t d4, int32_t d5)
{
    int32_t dimensions[5] = {d1, d2, d3, d4, d5};
    HostServiceBlock* b = xCallServiceBlock();
    return b->ArrayService(b->HostContext, array, kVariableSize, dimensions, int32_t(sizeof dimensions),
                           kArrayAllocate);
}

int32_t xFreeArray(HostVariable* array)
{
    HostServiceBlock* b = xCallServiceBlock();
    return b->ArrayService(b->HostContext, array, kVariableSize, nullptr, 0, kArrayFree);
}

int32_t xSetArrayItemLong(HostVariable* array, int32_t i1, int32_t i2, int32_t i3, int32_t i4, int32_t i5,
                          int32_t value)
{
    HostVariable item;
    memset(&item, 0, sizeof item);
    item.ValueType = ValueInteger;
    item.IntValue = value;
    return SetItem(array, {i1, i2, i3, i4, i5}, &item);
}

int32_t xSetArrayItemString(HostVariable* array, int32_t i1, int32_t i2, int32_t i3, int32_t i4, int32_t i5,
                            const char* text)
{
    if (!text)
        return kFailed;
    HostVariable item;
    memset(&item, 0, sizeof item);
    item.ValueType = ValueString;
    item.StringValue = const_cast<char*>(text);
    return SetItem(array, {i1, i2, i3, i4, i5}, &item);
}

int32_t xAllocBinBuf(int32_t size, int32_t* handle)
{
    if (size < 1 || !handle)
        return kFailed;
    *handle = 0;
    if (!BinaryBuffersServed())
        return kFailed;
    HostServiceBlock* b = xCallServiceBlock();
    const int32_t result = b->BinaryBufferService(b->HostContext, 0, size, kBinBufAllocate);
    if (result < 0)
        return result;
    *handle = result;
    return 0;
}

int32_t xGetBinBufDataPtr(int32_t handle, void** data)
{
    if (!data || *data || !BinaryBuffersServed())
        return kFailed;
    HostServiceBlock* b = xCallServiceBlock();
    const int32_t result = b->BinaryBufferService(b->HostContext, handle, 0, kBinBufDataPointer);
    if (result < 0)
        return result;
    *data = reinterpret_cast<void*>(intptr_t(result));
    return 0;
}

int32_t xSetBinBufEOD(int32_t handle, int32_t endOfData, int32_t* resultSlot)
{
    if (!BinaryBuffersServed())
        return kFailed;
    HostServiceBlock* b = xCallServiceBlock();
    const int32_t result = b->BinaryBufferService(b->HostContext, handle, endOfData, kBinBufSetEnd);
    if (result < 0)
        return result;
    if (resultSlot)
        *resultSlot = result;
    return 0;
}
