// Test double of the window-station library: the session times.
#include <windows.h>

#include <cstring>

#include "sim/scenario.h"
#include "support/wtsplatform.h"

extern "C" BOOLEAN WINAPI WinStationQueryInformationW(HANDLE h, ULONG session, int infoClass, PVOID buffer,
                                                      ULONG length, PULONG returned)
{
    SimLog("WinStationQueryInformationW handle=%p session=%lu class=%d length=%lu", h, session, infoClass, length);
    if (SimFails("WinStationQueryInformationW", h))
        return FALSE;
    const SimSession* s = SimFindSession(h, session);
    if (!s || ULONG(infoClass) != ULONG(WinStationInformation) || length < ULONG(sizeof(WINSTATIONINFORMATIONW))) {
        SetLastError(s ? ERROR_INVALID_PARAMETER : ERROR_CTX_WINSTATION_NOT_FOUND);
        return FALSE;
    }
    const size_t offsets[] = {WINSTATION_CONNECT_TIME_OFFSET, WINSTATION_DISCONNECT_TIME_OFFSET, WINSTATION_LAST_INPUT_TIME_OFFSET, WINSTATION_LOGON_TIME_OFFSET,
                              WINSTATION_CURRENT_TIME_OFFSET};
    for (int i = 0; i < 5; ++i)
        memcpy(static_cast<BYTE*>(buffer) + offsets[i], &s->times[i], 8);
    if (returned)
        *returned = ULONG(sizeof(WINSTATIONINFORMATIONW));
    return TRUE;
}
