// What the exports on newer servers share: the server's Windows version,
// and the report of an entry point the system lacks.
#pragma once
#include <windows.h>

#include "api/bound.h"

// The Windows version of server `serverUtf8` (null or empty: this
// computer) as major * 256 + minor, through NetServerGetInfo; 0 when it
// cannot be told.
DWORD xServerVersion(const BindingTable& bound, const char* serverUtf8);

// An entry point the system lacks: recorded (code ERROR_PROC_NOT_FOUND,
// "NAME() not found in LIBRARY : EXPORT()"), as the binding names what is
// missing; returns QRVTS_NOT_AVAILABLE.
LONG xEntryMissing(const char* entry, const char* library, const char* exportName);
