// Whether a server takes new logons: two values of its registry, reached
// through the remote registry for another server. "WinStationsDisabled"
// (1: no logon or reconnection), under the logon manager's key, and
// "TSServerDrainMode" (0 every logon, 1 reconnections only, 2 reconnections
// only until the server restarts; Server 2008 on), under the terminal
// server's key: where the system's own "change logon" keeps them.
#include <cstdlib>
#include <cstring>

#include "api/bound.h"
#include "api/newer.h"
#include "include/velquor.h"
#include "support/errors.h"
#include "support/utf8.h"

namespace {

const WCHAR kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const WCHAR kDisabledValue[] = L"WinStationsDisabled";  // a text, "0" or "1"
const WCHAR kTerminalServerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Terminal Server";
const WCHAR kDrainValue[] = L"TSServerDrainMode";  // a number
const DWORD kDrainAll = 0, kDrainReconnect = 1, kDrainUntilRestart = 2;

// The registry's HKEY_LOCAL_MACHINE of a server (this computer's for the
// empty name), closed with the holder.
struct Machine {
    const NewerEntryPoints& n;
    HKEY root = nullptr;
    LONG error = ERROR_SUCCESS;
    Machine(const NewerEntryPoints& entries, const WCHAR* server) : n(entries)
    {
        if (*server)
            error = n.RegConnectRegistryW(server, HKEY_LOCAL_MACHINE, &root);
        else
            root = HKEY_LOCAL_MACHINE;
    }
    ~Machine()
    {
        if (root && root != HKEY_LOCAL_MACHINE)
            n.RegCloseKey(root);
    }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;
};

// A value as a number: a DWORD, or a text of decimal digits; 0 when it is
// not there. Returns the registry's error (ERROR_FILE_NOT_FOUND is none).
LONG ReadNumber(const Machine& m, const WCHAR* key, const WCHAR* value, DWORD* number)
{
    *number = 0;
    HKEY opened = nullptr;
    LONG error = m.n.RegOpenKeyExW(m.root, key, 0, KEY_QUERY_VALUE, &opened);
    if (error != ERROR_SUCCESS)
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    BYTE data[64] = {};
    DWORD type = 0, size = sizeof data - sizeof(WCHAR);
    error = m.n.RegQueryValueExW(opened, value, nullptr, &type, data, &size);
    m.n.RegCloseKey(opened);
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        return error;
    if (type == REG_DWORD && size == sizeof(DWORD))
        memcpy(number, data, sizeof(DWORD));
    else if (type == REG_SZ)
        for (const WCHAR* p = reinterpret_cast<const WCHAR*>(data); *p >= L'0' && *p <= L'9'; ++p)
            *number = *number * 10 + DWORD(*p - L'0');
    return ERROR_SUCCESS;
}

LONG Write(const Machine& m, const WCHAR* key, const WCHAR* value, DWORD type, const void* data, DWORD size)
{
    HKEY opened = nullptr;
    LONG error = m.n.RegOpenKeyExW(m.root, key, 0, KEY_SET_VALUE, &opened);
    if (error != ERROR_SUCCESS)
        return error;
    error = m.n.RegSetValueExW(opened, value, 0, type, static_cast<const BYTE*>(data), size);
    m.n.RegCloseKey(opened);
    return error;
}

LONG Failed(LONG error, const char* place)
{
    xRecordLastError(DWORD(error), place);
    return QRVTS_LOGON_MODE_FAILED;
}

// Runs `use` on the server's registry; the argument checks and what is
// missing answered first.
template <class Use>
LONG OnRegistry(const char* serverName, const char* exportName, Use use)
{
    ExportCall call;
    const NewerEntryPoints& n = call.Bound().Newer;
    if (!n.RegConnectRegistryW)
        return xEntryMissing("RegConnectRegistryW", "ADVAPI32.DLL", exportName);
    int units = 0;
    bool invalid = false;
    WCHAR* server = xAllocWide(serverName ? serverName : "", &units, &invalid);
    if (!server)
        return invalid ? QRVTS_INVALID_PARAMETER : QRVTS_OUT_OF_MEMORY;
    LONG result;
    {
        Machine m(n, server);
        result = m.error != ERROR_SUCCESS ? Failed(m.error, "RegConnectRegistryWX() : QRVTS_LogonMode()") : use(m);
    }
    free(server);
    return result;
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_GetLogonModeUtf8(LPCSTR serverName, DWORD* mode)
{
    if (!mode)
        return QRVTS_INVALID_PARAMETER;
    return OnRegistry(serverName, "QRVTS_GetLogonModeUtf8", [&](const Machine& m) {
        DWORD disabled = 0, drain = 0;
        LONG error = ReadNumber(m, kWinlogonKey, kDisabledValue, &disabled);
        if (error == ERROR_SUCCESS)
            error = ReadNumber(m, kTerminalServerKey, kDrainValue, &drain);
        if (error != ERROR_SUCCESS)
            return Failed(error, "RegQueryValueExWX() : QRVTS_GetLogonModeUtf8()");
        *mode = disabled ? QRVTS_LOGONS_DISABLED
                : drain == kDrainReconnect ? QRVTS_LOGONS_DRAIN
                : drain == kDrainUntilRestart ? QRVTS_LOGONS_DRAIN_UNTIL_RESTART
                                               : QRVTS_LOGONS_ENABLED;
        return LONG(QRVTS_OK);
    });
}

extern "C" LONG QRVTS_CALL QRVTS_SetLogonModeUtf8(LPCSTR serverName, DWORD mode)
{
    if (mode > QRVTS_LOGONS_DRAIN_UNTIL_RESTART)
        return QRVTS_INVALID_PARAMETER;
    return OnRegistry(serverName, "QRVTS_SetLogonModeUtf8", [&](const Machine& m) {
        const WCHAR* disabled = mode == QRVTS_LOGONS_DISABLED ? L"1" : L"0";
        const DWORD drain = mode == QRVTS_LOGONS_DRAIN ? kDrainReconnect
                            : mode == QRVTS_LOGONS_DRAIN_UNTIL_RESTART ? kDrainUntilRestart
                                                                        : kDrainAll;
        LONG error = Write(m, kWinlogonKey, kDisabledValue, REG_SZ, disabled, 2 * sizeof(WCHAR));
        // Disabling leaves the drain mode as it is, as the system's own tool does.
        if (error == ERROR_SUCCESS && mode != QRVTS_LOGONS_DISABLED)
            error = Write(m, kTerminalServerKey, kDrainValue, REG_DWORD, &drain, sizeof drain);
        return error == ERROR_SUCCESS ? LONG(QRVTS_OK) : Failed(error, "RegSetValueExWX() : QRVTS_SetLogonModeUtf8()");
    });
}
