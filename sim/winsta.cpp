// Test double of the window-station library: the session times.
#include <windows.h>

#include <cstring>

#include "api/tsplatform.h"
#include "sim/scenario.h"

extern "C" BOOLEAN WINAPI WinStationQueryInformationW(HANDLE h, ULONG session, int infoClass, PVOID buffer,
                                                      ULONG length, PULONG returned)
{
    SimLog("WinStationQueryInformationW handle=%p session=%lu class=%d length=%lu", h, session, infoClass, length);
    if (SimFails("WinStationQueryInformationW"))
        return FALSE;
    const SimSession* s = SimFindSession(session);
    if (!s || ULONG(infoClass) != kWinStationInformationClass || length < kWinStationInfoSize) {
        SetLastError(s ? ERROR_INVALID_PARAMETER : 7022);
        return FALSE;
    }
    const size_t offsets[] = {kConnectTimeOffset, kDisconnectTimeOffset, kLastInputTimeOffset, kLogonTimeOffset,
                              kCurrentTimeOffset};
    for (int i = 0; i < 5; ++i)
        memcpy(static_cast<BYTE*>(buffer) + offsets[i], &s->times[i], 8);
    if (returned)
        *returned = kWinStationInfoSize;
    return TRUE;
}
