// The interpreter's array and binary-buffer services, through the current
// service block. Each returns 0 on success, otherwise the failure code.
#pragma once
#include <cstdint>

#include "extender/interp.h"

int32_t xAllocArray(HostVariable* array, int32_t d1, int32_t d2, int32_t d3, int32_t d4, int32_t d5);
int32_t xFreeArray(HostVariable* array);
int32_t xSetArrayItemLong(HostVariable* array, int32_t i1, int32_t i2, int32_t i3, int32_t i4, int32_t i5,
                          int32_t value);
int32_t xSetArrayItemString(HostVariable* array, int32_t i1, int32_t i2, int32_t i3, int32_t i4, int32_t i5,
                            const char* text);
int32_t xAllocBinBuf(int32_t size, int32_t* handle);
int32_t xGetBinBufDataPtr(int32_t handle, void** data);
int32_t xSetBinBufEOD(int32_t handle, int32_t endOfData, int32_t* result);
