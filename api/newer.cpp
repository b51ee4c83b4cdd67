// The server's Windows version, and the report of a missing entry point.
#include "api/newer.h"

#include <cstdlib>

#include "include/velquor.h"
#include "support/errors.h"
#include "support/format.h"
#include "support/utf8.h"

DWORD xServerVersion(const BindingTable& bound, const char* serverUtf8)
{
    const NewerEntryPoints& n = bound.Newer;
    if (!n.NetServerGetInfo)
        return 0;
    int units = 0;
    bool invalid = false;
    WCHAR* server = serverUtf8 && *serverUtf8 ? xAllocWide(serverUtf8, &units, &invalid) : nullptr;
    if (serverUtf8 && *serverUtf8 && !server)
        return 0;
    LPBYTE buffer = nullptr;
    DWORD version = 0;
    if (n.NetServerGetInfo(server, 101, &buffer) == NERR_Success && buffer) {
        const SERVER_INFO_101* info = reinterpret_cast<const SERVER_INFO_101*>(buffer);
        version = ((info->sv101_version_major & MAJOR_VERSION_MASK) << 8) | (info->sv101_version_minor & 0xFF);
    }
    if (buffer)
        n.NetApiBufferFree(buffer);
    free(server);
    return version;
}

LONG xEntryMissing(const char* entry, const char* library, const char* exportName)
{
    char* place = nullptr;
    xAllocPrintf(&place, "%s() not found in %s : %s()", entry, library, exportName);
    xRecordLastError(ERROR_PROC_NOT_FOUND, place ? place : entry);
    free(place);
    return QRVTS_NOT_AVAILABLE;
}
