#include "support/strings.h"

#include <cstdlib>
#include <cstring>

#include "include/velquor_errors.h"
#include "support/format.h"
#include "support/process.h"

namespace {

// Which source serves the texts, and the language file's full path when one
// was found: chosen under the library's lock, and read under it.
LanguageStateKind LanguageState = Unresolved;
char LanguageFilePath[MAX_PATH];

const char kFilePrefix[] = "QRVELANG";
const char kAbsent[] = "XXX";
const int kLanguageNameSize = 20;
// String-table ids are 16 bits wide: LoadStringA would serve a larger id's
// low 16 bits, another message.
const UINT kHighestId = 0xFFFF;
// Language files replace the error texts and the title: ids from the first
// error number on.
const UINT kFirstReplaceable = QRVTS_INVALID_REQUEST;

// Digits are built from the right before they are copied out; 32 places
// hold every 32-bit magnitude even in radix 2.
const int kDigitPlaces = 32;

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
    // The name comes in the code page of the file functions: ANSI, unless
    // the process switched them to OEM.
    if (!AreFileApisANSI())
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

// A file (not a folder) of that path exists. Unlike OpenFile, which refuses
// paths of 128 characters or more, this takes every path up to MAX_PATH.
bool IsFile(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Looks the bare name up in OpenFile's search order (the program's folder,
// the current folder, the system folders, the Windows folder, the PATH),
// which SearchPathA follows without OpenFile's limit on the path found.
void FindOnSearchPath(const char* name)
{
    char* bare = nullptr;
    if (!xAllocPrintf(&bare, "%s.%s", kFilePrefix, name) || !bare)
        return;
    char found[MAX_PATH];
    char* filePart = nullptr;
    const DWORD length = SearchPathA(nullptr, bare, nullptr, MAX_PATH, found, &filePart);
    if (length > 0 && length < MAX_PATH && IsFile(found)) {
        lstrcpynA(LanguageFilePath, found, MAX_PATH);
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
    if (AppendFileName(LanguageFilePath, name) && IsFile(LanguageFilePath)) {
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

// A buffer this large tells the sentinel from every value: the sentinel
// itself reads whole, and a longer value reads longer.
const int kSentinelProof = sizeof kAbsent + 1;

int LoadFromLanguageFile(const char* file, HMODULE module, UINT id, char* buffer, int bufferSize)
{
    char key[2 + kDigitPlaces] = "X";
    xIntToText(int(id), key + 1, 10);
    // A smaller buffer would receive the sentinel cut short and serve it as
    // the text: read into one that is large enough, then cut to the caller's.
    char small[kSentinelProof];
    char* target = bufferSize >= kSentinelProof ? buffer : small;
    const DWORD targetSize = DWORD(target == buffer ? bufferSize : kSentinelProof);
    int count = int(GetPrivateProfileStringA("Velquor", key, kAbsent, target, targetSize, file));
    if (strcmp(target, kAbsent) == 0)
        return LoadFromModule(module, id, buffer, bufferSize);
    if (target == small) {
        lstrcpynA(buffer, small, bufferSize);
        count = lstrlenA(buffer);
    }
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

// The language file to read, copied under the lock (choosing the language
// first when it is due); empty when the string table serves every text.
void LanguageFileOf(HMODULE module, UINT id, char* file)
{
    ProcessLock lock;
    if (LanguageState == Unresolved || id == 0)
        ChooseLanguage(module);
    lstrcpynA(file, LanguageState == LanguageFile ? LanguageFilePath : "", MAX_PATH);
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
    char scratch[kDigitPlaces];
    char* end = scratch + sizeof scratch;
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
    char file[MAX_PATH];
    LanguageFileOf(module, id, file);
    if (!buffer || bufferSize <= 0)
        return 0;
    if (id > kHighestId) {
        buffer[0] = '\0';
        return 0;
    }
    int count = (id >= kFirstReplaceable && file[0]) ? LoadFromLanguageFile(file, module, id, buffer, bufferSize)
                                                    : LoadFromModule(module, id, buffer, bufferSize);
    ReplaceMarkers(buffer);
    return count;
}
