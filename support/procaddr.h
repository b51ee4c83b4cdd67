// Turns an entry point found by name into a typed function pointer.
#pragma once
#include <windows.h>

template <class Fn>
inline Fn xProcAs(FARPROC entry)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
}
