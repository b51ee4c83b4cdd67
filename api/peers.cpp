// What newer servers do beyond the session actions: connecting one session
// to another, remote control of a session and its end, and the terminal
// servers of a domain.
#include <cstdlib>
#include <cstring>

#include "api/bound.h"
#include "api/lists.h"
#include "api/newer.h"
#include "include/velquor.h"
#include "support/errors.h"
#include "support/list.h"
#include "support/utf8.h"

namespace {

const char kWtsapi[] = "WTSAPI32.DLL";
const DWORD kModifiers = REMOTECONTROL_KBDSHIFT_HOTKEY | REMOTECONTROL_KBDCTRL_HOTKEY | REMOTECONTROL_KBDALT_HOTKEY;

// A caller's UTF-8 text as wide text, freed with the holder; `made` false
// when it is not UTF-8 or memory ran out.
struct Wide {
    WCHAR* text = nullptr;
    int units = 0;
    bool made = false, invalid = false;
    explicit Wide(const char* utf8)
    {
        text = xAllocWide(utf8, &units, &invalid);
        made = text != nullptr;
    }
    ~Wide() { free(text); }
    Wide(const Wide&) = delete;
    Wide& operator=(const Wide&) = delete;
};

LONG Refused(LONG failure, const char* place)
{
    xRecordLastError(GetLastError(), place);
    return failure;
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_ConnectSessionUtf8(DWORD sessionId, DWORD targetSessionId, LPCSTR password, BOOL wait)
{
    ExportCall call;
    const auto connect = call.Bound().Newer.WTSConnectSessionW;
    if (!password || (sessionId == LOGONID_CURRENT && targetSessionId == LOGONID_CURRENT))
        return QRVTS_INVALID_PARAMETER;  // the platform takes no null password, and not both as the caller's own
    if (!connect)
        return xEntryMissing("WTSConnectSessionW", kWtsapi, "QRVTS_ConnectSessionUtf8");
    Wide secret(password);
    if (!secret.made)
        return secret.invalid ? QRVTS_INVALID_PARAMETER : QRVTS_OUT_OF_MEMORY;
    const BOOL done = connect(sessionId, targetSessionId, secret.text, wait);
    const LONG result = done ? QRVTS_OK : Refused(QRVTS_CONNECT_FAILED, "WTSConnectSessionWX() : QRVTS_ConnectSessionUtf8()");
    SecureZeroMemory(secret.text, sizeof(WCHAR) * size_t(secret.units));
    return result;
}

extern "C" LONG QRVTS_CALL QRVTS_StartRemoteControlUtf8(LPCSTR serverName, DWORD sessionId, DWORD hotkeyVk,
                                                        DWORD hotkeyModifiers)
{
    ExportCall call;
    const auto start = call.Bound().Newer.WTSStartRemoteControlSessionW;
    if (hotkeyVk == 0 || hotkeyVk > 0xFF || (hotkeyModifiers & ~kModifiers))
        return QRVTS_INVALID_PARAMETER;
    if (!start)
        return xEntryMissing("WTSStartRemoteControlSessionW", kWtsapi, "QRVTS_StartRemoteControlUtf8");
    Wide server(serverName ? serverName : "");
    if (!server.made)
        return server.invalid ? QRVTS_INVALID_PARAMETER : QRVTS_OUT_OF_MEMORY;
    // The platform names the server: the empty name is this computer's.
    char ansi[MAX_COMPUTERNAME_LENGTH + 1];
    WCHAR here[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    LPWSTR target = server.text;
    if (!*target && GetComputerNameA(ansi, &size) && MultiByteToWideChar(CP_ACP, 0, ansi, -1, here, MAX_COMPUTERNAME_LENGTH + 1))
        target = here;
    if (!start(target, sessionId, BYTE(hotkeyVk), USHORT(hotkeyModifiers)))
        return Refused(QRVTS_REMOTE_CONTROL_FAILED,
                       "WTSStartRemoteControlSessionWX() : QRVTS_StartRemoteControlUtf8()");
    return QRVTS_OK;
}

extern "C" LONG QRVTS_CALL QRVTS_StopRemoteControl(DWORD sessionId)
{
    ExportCall call;
    const auto stop = call.Bound().Newer.WTSStopRemoteControlSession;
    if (!stop)
        return xEntryMissing("WTSStopRemoteControlSession", kWtsapi, "QRVTS_StopRemoteControl");
    if (!stop(sessionId))
        return Refused(QRVTS_REMOTE_CONTROL_FAILED, "WTSStopRemoteControlSessionX() : QRVTS_StopRemoteControl()");
    return QRVTS_OK;
}

extern "C" LONG QRVTS_CALL QRVTS_EnumerateServersUtf8(LPCSTR domainName, ServerListRecord** servers)
{
    ExportCall call;
    if (!servers || *servers)
        return QRVTS_INVALID_PARAMETER;
    const BindingTable& bound = call.Bound();
    const auto enumerate = bound.Newer.WTSEnumerateServersW;
    if (!enumerate || !bound.Entry.WTSFreeMemory)
        return xEntryMissing("WTSEnumerateServersW", kWtsapi, "QRVTS_EnumerateServersUtf8");
    Wide domain(domainName ? domainName : "");
    if (!domain.made)
        return domain.invalid ? QRVTS_INVALID_PARAMETER : QRVTS_OUT_OF_MEMORY;
    PWTS_SERVER_INFOW found = nullptr;
    DWORD count = 0;
    if (!enumerate(*domain.text ? domain.text : nullptr, 0, 1, &found, &count))
        return Refused(QRVTS_ENUM_SERVERS_FAILED, "WTSEnumerateServersWX() : QRVTS_EnumerateServersUtf8()");
    ListText names{};
    ListText* all[1] = {&names};
    bool made = true;
    for (DWORD i = 0; i < count && made; ++i)
        made = xListAppendWide(&names, found[i].pServerName);
    bound.Entry.WTSFreeMemory(found);
    made = made && xListFinish(&names);
    ServerListRecord* block =
        made ? static_cast<ServerListRecord*>(calloc(sizeof(ServerListRecord) + xListsBytes(all, 1), 1)) : nullptr;
    if (!block) {
        xReleaseLists(all, 1);
        xRecordLastError(0, "calloc() {returned NULL pointer} : QRVTS_EnumerateServersUtf8()");
        return QRVTS_OUT_OF_MEMORY;
    }
    block->Count = count;
    LPSTR* const pointers[1] = {&block->ServerNames};
    xPackLists(reinterpret_cast<char*>(block), sizeof(ServerListRecord), all, 1, pointers);
    xReleaseLists(all, 1);
    *servers = block;
    return QRVTS_OK;
}
