// What the exports that act on a server share.
#pragma once
#include <windows.h>

// A platform service failed on an open server: reads its error before the
// handle is closed, closes the handle, records the error under `place` and
// returns `failure`.
LONG xServiceFailed(HANDLE handle, const char* place, LONG failure);
