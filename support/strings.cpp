#include "support/strings.h"

#include <cstdlib>
#include <cstring>

#include "support/format.h"

LanguageStateKind LanguageState = Unresolved;
char LanguageFilePath[MAX_PATH];

namespace {

const char kFilePrefix[] = "QRVELANG";
const char kAbsent[] = "XXX";
const int kLanguageNameSize = 20;

// Digits are built from the right here before they are copied out; 32
// places hold every 32-bit magnitude even in radix 2.
char IntToTextScratch[32];

void ReadLanguageName(char* name)
{
    GetPrivateProfileStringA("MAIN", "Language", kAbsent, name, kLanguageNameSize, "QRVTAVRK.INI");
    if (strcmp(name, kAbsent) != 0)
        return;
    GetProfileStringA("INTL", "sLanguage", "enu", name, kLanguageNameSize);
    if (strcmp(name, kAbsent) == 0)
        strcpy(name, "enu");
}

// The module's folder with its separator, or the empty text.
void ModuleFolder(HMODULE module, char* path)
{
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        path[0] = '\0';
        return;
    }
    OemToCharA(path, path);
    char* separator = xFindLastSeparator(path);
    if (separator)
        separator[1] = '\0';
    else
        path[0] = '\0';
}

// Appends "QRVELANG.<name>" to the folder in `path`; false when it does not fit.
bool AppendFileName(char* path, const char* name)
{
    const size_t used = strlen(path);
    const size_t needed = strlen(kFilePrefix) + 1 + strlen(name);
    if (used + needed >= MAX_PATH)
        return false;
    char* end = path + used;
    memcpy(end, kFilePrefix, strlen(kFilePrefix));
    end += strlen(kFilePrefix);
    *end++ = '.';
    memcpy(end, name, strlen(name) + 1);
    return true;
}

bool Exists(const char* name, OFSTRUCT* found)
{
    return OpenFile(name, found, OF_EXIST) != HFILE_ERROR;
}

void FindOnSearchPath(const char* name)
{
    char* bare = nullptr;
    if (!xAllocPrintf(&bare, "%s.%s", kFilePrefix, name) || !bare)
        return;
    OFSTRUCT found;
    if (Exists(bare, &found)) {
        lstrcpynA(LanguageFilePath, found.szPathName, MAX_PATH);
        LanguageState = LanguageFile;
    }
    free(bare);
}

void ChooseLanguage(HMODULE module)
{
    LanguageState = ResourcesOnly;
    LanguageFilePath[0] = '\0';
    char name[kLanguageNameSize];
    ReadLanguageName(name);
    ModuleFolder(module, LanguageFilePath);
    OFSTRUCT found;
    if (AppendFileName(LanguageFilePath, name) && Exists(LanguageFilePath, &found)) {
        LanguageState = LanguageFile;
        return;
    }
    LanguageFilePath[0] = '\0';
    FindOnSearchPath(name);
}

int LoadFromModule(HMODULE module, UINT id, char* buffer, int bufferSize)
{
    buffer[0] = '\0';
    return LoadStringA(module, id, buffer, bufferSize);
}

int LoadFromLanguageFile(HMODULE module, UINT id, char* buffer, int bufferSize)
{
    char key[2 + sizeof IntToTextScratch] = "X";
    xIntToText(int(id), key + 1, 10);
    int count = int(GetPrivateProfileStringA("Velquor", key, kAbsent, buffer, DWORD(bufferSize),
                                             LanguageFilePath));
    if (strcmp(buffer, kAbsent) == 0)
        return LoadFromModule(module, id, buffer, bufferSize);
    return count;
}

void ReplaceMarkers(char* text)
{
    for (char* p = text; *p; p = CharNextA(p)) {
        if (*p == '~')
            *p = '\n';
        else if (*p == '|')
            *p = '\t';
    }
}

}  // namespace

char* xFindLastSeparator(char* path)
{
    char* last = nullptr;
    for (char* p = path; *p; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/')
            last = p;
    }
    return last;
}

void xIntToText(int value, char* out, int radix)
{
    static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    unsigned magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    char* end = IntToTextScratch + sizeof IntToTextScratch;
    char* p = end;
    do {
        *--p = kDigits[magnitude % unsigned(radix)];
        magnitude /= unsigned(radix);
    } while (magnitude);
    if (value < 0)
        *out++ = '-';
    memcpy(out, p, size_t(end - p));
    out[end - p] = '\0';
}

extern "C" int WINAPI ZELExLoadString(HMODULE module, UINT id, char* buffer, int bufferSize)
{
    if (LanguageState == Unresolved || id == 0)
        ChooseLanguage(module);
    if (!buffer || bufferSize <= 0)
        return 0;
    int count = (id >= 100 && LanguageState == LanguageFile)
                    ? LoadFromLanguageFile(module, id, buffer, bufferSize)
                    : LoadFromModule(module, id, buffer, bufferSize);
    ReplaceMarkers(buffer);
    return count;
}
