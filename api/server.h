// The one shape of an export that works on a server: open it, run the
// export's body on the handle, close the handle, and only then record what
// the body reported, with the error it read at once.
#pragma once
#include <windows.h>

#include "include/velquor.h"
#include "support/errors.h"

// What an export's body reports: its result code, and a failure to record
// (`place` null when there is none).
struct ServerOutcome {
    LONG result;
    DWORD error;
    const char* place;
};

inline ServerOutcome xSucceeded() { return {QRVTS_OK, 0, nullptr}; }

// A platform service refused: its error is read here, at once.
inline ServerOutcome xRefused(const char* place, LONG failure) { return {failure, GetLastError(), place}; }

// An allocation failed: recorded with the code 0.
inline ServerOutcome xNoMemory(const char* place) { return {QRVTS_OUT_OF_MEMORY, 0, place}; }

// Opens the server named `server` (null or empty: the local server) through
// the entry points of form Char, as QRVTS_OpenServer (char) and
// QRVTS_OpenServerUtf8 (WCHAR) do.
template <class Char>
LONG xOpenServer(LPCSTR server, HANDLE* handle);

// Closes a handle from xOpenServer inside an export: unlike
// QRVTS_CloseServer, it keeps the calling thread's error code.
void xCloseServer(HANDLE handle);

// Opens `server` (a failure to open is returned as it is), runs `body` with
// the handle, closes the handle after everything the body holds is released,
// then records the body's failure.
template <class Char = char, class Body>
LONG xOnServer(LPCSTR server, Body body)
{
    HANDLE handle = nullptr;
    const LONG opened = xOpenServer<Char>(server, &handle);
    if (opened != QRVTS_OK)
        return opened;
    const ServerOutcome outcome = body(handle);
    xCloseServer(handle);
    if (outcome.place)
        xRecordLastError(outcome.error, outcome.place);
    return outcome.result;
}
