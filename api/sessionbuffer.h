// The platform's list of sessions, shared by the session list and the list
// of user sessions: basic or level-1 records, in the texts of form Char,
// released with the holder.
#pragma once
#include <windows.h>

#include "api/bound.h"
#include "api/tsplatform.h"

template <class Char>
struct SessionBuffer {
    const BoundEntryPoints& bound;
    TsSessionInfoOf<Char>* basic = nullptr;
    TsSessionInfo1Of<Char>* level1 = nullptr;
    DWORD count = 0;

    void Release()
    {
        if (level1)
            xEntriesOf<Char>(bound).FreeMemoryEx(WTSTypeSessionInfoLevel1, level1, count);
        else if (basic)
            bound.WTSFreeMemory(basic);
        basic = nullptr;
        level1 = nullptr;
    }
    ~SessionBuffer() { Release(); }

    // The level-1 enumeration when `extended` and the platform has it, else the basic one.
    BOOL Enumerate(HANDLE handle, BOOL extended)
    {
        const TextEntryPoints<Char>& entries = xEntriesOf<Char>(bound);
        if (extended && entries.EnumerateSessionsEx) {
            DWORD level = 1;
            return entries.EnumerateSessionsEx(handle, &level, 0, &level1, &count);
        }
        return entries.EnumerateSessions(handle, 0, 1, &basic, &count);
    }
};
