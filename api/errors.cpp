// What a program learns of a failure: the text of an error number and the
// platform's code of the calling thread's latest recorded failure.
#include "include/velquor.h"
#include "support/errors.h"
#include "support/platform.h"
#include "support/strings.h"
#include "support/utf8.h"

extern "C" LONG QRVTS_CALL QRVTS_GetErrorText(LONG number, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0)
        return 0;
    if (number <= 0) {
        buffer[0] = '\0';  // 0 would make the texts choose their language again
        return 0;
    }
    return ZELExLoadString(PlatformInfo.ModuleHandle, UINT(number), buffer, int(size));
}

extern "C" DWORD QRVTS_CALL QRVTS_GetLastErrorCode(void) { return xThreadLastErrorCode(); }

extern "C" LONG QRVTS_CALL QRVTS_GetErrorTextUtf8(LONG number, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0)
        return 0;
    // Texts come in the ANSI code page (the string table as loaded, or a
    // language file); they are taken whole, then cut as UTF-8.
    char ansi[1024];
    if (QRVTS_GetErrorText(number, ansi, sizeof ansi) == 0) {
        buffer[0] = '\0';
        return 0;
    }
    return xAnsiToUtf8(ansi, buffer, size);
}
