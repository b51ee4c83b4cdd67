// The extender's entry points for the interpreter.
#pragma once
#include <windows.h>
#include <cstdint>

#include "extender/interp.h"

extern "C" {
int32_t WINAPI ZELExtender2(HWND window, int32_t unused2, void* opaque, int32_t request,
                            CompleteRequestFn complete, HostServiceBlock* block, int32_t unused7,
                            void* pointer, int32_t index, HostVariable* result);
int32_t WINAPI ZELExtenderQuery(int32_t type, void* pointer, int32_t count);
int32_t WINAPI ZELExVersion(int32_t index);
}
