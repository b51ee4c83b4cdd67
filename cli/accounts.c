/* velquor.exe: whose a process is. The SID of a session's user, looked up
 * on the session's own server with the platform's LookupAccountNameW, so
 * that kill on a selection ends the processes of that account alone.
 *
 * The entry point is taken by name from ACCOUNTS_LIBRARY in the system
 * folder (the oldest systems lack it); the build of the tests names the
 * simulated platform's library there, which keeps a scenario's accounts. */
#include <stdlib.h>
#include <string.h>

#include "cli.h"

#ifndef ACCOUNTS_LIBRARY
#define ACCOUNTS_LIBRARY "ADVAPI32.DLL"
#endif

typedef BOOL(WINAPI* LookupAccountNameWFn)(LPCWSTR, LPCWSTR, PSID, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);

/* A SID in its usual text form: S-1-5-21-...; an identifier authority
 * beyond 32 bits in hexadecimal, as the platform writes it. */
static void SidText(const SID* sid, char* text, size_t size)
{
    const BYTE* a = sid->IdentifierAuthority.Value;
    size_t n;
    BYTE i;
    if (a[0] || a[1])
        _snprintf(text, size, "S-%u-0x%02x%02x%02x%02x%02x%02x", sid->Revision, a[0], a[1], a[2], a[3], a[4], a[5]);
    else
        _snprintf(text, size, "S-%u-%lu", sid->Revision,
                  (unsigned long)a[2] << 24 | (unsigned long)a[3] << 16 | (unsigned long)a[4] << 8 | a[5]);
    for (i = 0; i < sid->SubAuthorityCount; ++i) {
        n = strlen(text);
        _snprintf(text + n, size - n, "-%lu", sid->SubAuthority[i]);
    }
    text[size - 1] = '\0';
}

/* "DOMAIN\USER", or the user alone where the domain is not known. */
static WCHAR* AccountName(const char* domain, const char* user)
{
    char* name = (char*)Allocate(strlen(domain) + strlen(user) + 2);
    WCHAR* wide;
    sprintf(name, "%s%s%s", domain, *domain ? "\\" : "", user);
    wide = WideText(name);
    free(name);
    return wide;
}

int AccountSid(const char* server, const char* domain, const char* user, char* sid, size_t size, DWORD* code)
{
    char path[MAX_PATH + 32];
    UINT folder = GetSystemDirectoryA(path, MAX_PATH);
    HMODULE library = NULL;
    LookupAccountNameWFn lookup = NULL;
    DWORD sidBytes = SECURITY_MAX_SID_SIZE, domainUnits = 256;
    union {
        SID sid;
        BYTE bytes[SECURITY_MAX_SID_SIZE];
    } found;
    WCHAR foundDomain[256];
    SID_NAME_USE use;
    WCHAR *wideServer, *account;
    int ok;
    if (folder > 0 && folder < MAX_PATH) {
        strcat(path, "\\" ACCOUNTS_LIBRARY);
        library = LoadLibraryA(path);
    }
    if (library) {
        FARPROC entry = GetProcAddress(library, "LookupAccountNameW");
        memcpy(&lookup, &entry, sizeof entry);
    }
    if (!lookup) {
        *code = library ? ERROR_PROC_NOT_FOUND : GetLastError();
        if (library)
            FreeLibrary(library);
        return 0;
    }
    wideServer = *server ? WideText(server) : NULL;
    account = AccountName(domain, user);
    ok = lookup(wideServer, account, &found.sid, &sidBytes, foundDomain, &domainUnits, &use);
    *code = ok ? 0 : GetLastError();
    if (ok)
        SidText(&found.sid, sid, size);
    free(wideServer), free(account);
    FreeLibrary(library);
    return ok;
}
