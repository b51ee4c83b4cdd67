// The simulated network library: what a server tells of itself
// (NetServerGetInfo, level 101), its Windows version from the scenario
// ([server] version= and version.NAME=).
#include <windows.h>
#include <lm.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "sim/scenario.h"

extern "C" {

NET_API_STATUS WINAPI SimNetServerGetInfo(LMSTR server, DWORD level, LPBYTE* buffer)
{
    std::string name = server ? SimUtf8(server) : "";
    if (name.compare(0, 2, "\\\\") == 0)
        name.erase(0, 2);
    SimLog("NetServerGetInfo server=%s level=%lu", name.c_str(), level);
    if (level != 101)
        return ERROR_INVALID_LEVEL;
    if (!name.empty() && !SimOpenHandle(name))
        return ERROR_BAD_NETPATH;
    const std::wstring wide = SimWide(name);
    const size_t textBytes = (wide.size() + 1) * sizeof(WCHAR);
    BYTE* block = static_cast<BYTE*>(calloc(1, sizeof(SERVER_INFO_101) + textBytes + sizeof(WCHAR)));
    if (!block)
        return ERROR_NOT_ENOUGH_MEMORY;
    SERVER_INFO_101* info = reinterpret_cast<SERVER_INFO_101*>(block);
    const DWORD version = SimServerVersion(name);
    info->sv101_platform_id = PLATFORM_ID_NT;
    info->sv101_name = reinterpret_cast<LMSTR>(block + sizeof(SERVER_INFO_101));
    memcpy(info->sv101_name, wide.c_str(), textBytes);
    info->sv101_comment = reinterpret_cast<LMSTR>(block + sizeof(SERVER_INFO_101) + textBytes);
    info->sv101_version_major = version >> 8;
    info->sv101_version_minor = version & 0xFF;
    info->sv101_type = SV_TYPE_SERVER_NT | SV_TYPE_TERMINALSERVER;
    *buffer = block;
    return NERR_Success;
}
static_assert(std::is_same_v<decltype(&SimNetServerGetInfo), decltype(&::NetServerGetInfo)>, "the platform's prototype");

NET_API_STATUS WINAPI SimNetApiBufferFree(LPVOID buffer)
{
    free(buffer);
    return NERR_Success;
}
static_assert(std::is_same_v<decltype(&SimNetApiBufferFree), decltype(&::NetApiBufferFree)>, "the platform's prototype");

}
