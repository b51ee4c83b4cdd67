// The name an export of velquor.dll has in this build, from its decorated
// name (_QRVTS_OpenServer@8): the same on 32-bit Windows; on 64-bit, whose
// calling convention decorates nothing, the plain name (QRVTS_OpenServer).
#pragma once
#include <cstring>
#include <string>

inline std::string ExportName(const char* decorated)
{
    if (sizeof(void*) == 4 || decorated[0] != '_')
        return decorated;
    const char* at = strrchr(decorated, '@');
    return std::string(decorated + 1, at ? size_t(at - decorated - 1) : strlen(decorated + 1));
}
