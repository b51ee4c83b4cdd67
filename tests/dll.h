// Loads the built velquor.dll and finds its exports by decorated name.
#pragma once
#include "host/exportname.h"
#include <windows.h>
#include <gtest/gtest.h>

inline HMODULE VelquorDll()
{
    static HMODULE module = LoadLibraryA("velquor.dll");
    return module;
}

template <class Fn>
Fn DllExport(const char* decorated)
{
    HMODULE module = VelquorDll();
    EXPECT_NE(module, nullptr) << "velquor.dll did not load";
    FARPROC p = module ? GetProcAddress(module, ExportName(decorated).c_str()) : nullptr;
    EXPECT_NE(p, nullptr) << decorated << " is not exported";
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
}
