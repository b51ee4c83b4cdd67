// An in-process stand-in for the terminal-services entry points, for
// programs linked with the library's core: a generated server of any size,
// with counts of what was opened, closed and released.
#pragma once
#include <windows.h>

#include <vector>

#include "api/bound.h"

struct InProcessServer {
    DWORD sessions = 0;
    DWORD processes = 0;
    DWORD sessionsOfProcesses = 1;  // processes are spread over this many sessions
    DWORD withoutSid = 0;           // the first this many processes have no SID
    int opens = 0, closes = 0, buffers = 0, releases = 0;
    int queries = 0;  // session-information queries answered
    int refusedClass = -1;  // this information class is refused, yet its buffer handed back
    int shortClass = -1;    // this information class reports a size of one byte
};

extern InProcessServer Server;

// A binding whose entry points are the stand-in's.
BindingTable xInProcessBinding();

// Attaches the library's state and puts the stand-in's binding in place.
void xBindInProcessServer();
