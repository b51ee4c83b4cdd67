#include "support/utf8.h"

#include <cstdlib>
#include <cstring>

namespace {

// Bytes of the UTF-8 form of `units` UTF-16 units: at most three each (a
// pair of surrogates makes four).
int Utf8Bytes(const WCHAR* text, int units)
{
    return units ? WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr) : 0;
}

int WideLength(const WCHAR* text)
{
    int n = 0;
    while (text[n])
        ++n;
    return n;
}

// MultiByteToWideChar of `bytes` bytes of `text` in code page `page`; a
// text that is not UTF-8 is refused where the system can tell (systems
// before 2000 SP4 take no flags for UTF-8).
int ToWideUnits(UINT page, const char* text, int bytes, WCHAR* out, int size)
{
    if (page == CP_UTF8) {
        const int n = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text, bytes, out, size);
        if (n || GetLastError() != ERROR_INVALID_FLAGS)
            return n;
    }
    return MultiByteToWideChar(page, 0, text, bytes, out, size);
}

// The UTF-16 form of `text` in a new allocation; null with `*invalid` false
// when memory ran out.
WCHAR* ToWide(UINT page, const char* text, int* units, bool* invalid)
{
    *invalid = false;
    const int bytes = int(strlen(text));
    const int n = bytes ? ToWideUnits(page, text, bytes, nullptr, 0) : 0;
    if (bytes && n == 0) {
        *invalid = true;
        return nullptr;
    }
    WCHAR* wide = static_cast<WCHAR*>(calloc(size_t(n) + 1, sizeof(WCHAR)));
    if (wide && n)
        ToWideUnits(page, text, bytes, wide, n);
    *units = n;
    return wide;
}

}  // namespace

bool xAllocUtf8(char** out, const WCHAR* text, int units)
{
    if (!text)
        text = L"";
    if (units < 0)
        units = WideLength(text);
    const int bytes = Utf8Bytes(text, units);
    char* made = static_cast<char*>(calloc(size_t(bytes) + 1, 1));
    if (made && bytes)
        WideCharToMultiByte(CP_UTF8, 0, text, units, made, bytes, nullptr, nullptr);
    free(*out);
    *out = made;
    return made != nullptr;
}

bool xListAppendWide(ListText* list, const WCHAR* text)
{
    const int units = text ? WideLength(text) : 0;
    if (!xListReserve(list, size_t(units) * 3 + 1))
        return false;
    const int bytes = units ? WideCharToMultiByte(CP_UTF8, 0, text, units, list->text + list->length,
                                                  units * 3, nullptr, nullptr)
                            : 0;
    xListBlankSeparators(list->text + list->length, list->text + list->length + bytes);
    list->length += size_t(bytes);
    list->text[list->length++] = kListDelimiter;
    list->text[list->length] = '\0';
    return true;
}

WCHAR* xAllocWide(const char* text, int* units, bool* invalid)
{
    return ToWide(CP_UTF8, text ? text : "", units, invalid);
}

int xAnsiToUtf8(const char* ansi, char* buffer, DWORD size)
{
    if (!buffer || size == 0)
        return 0;
    buffer[0] = '\0';
    int units = 0;
    bool invalid = false;
    WCHAR* wide = ToWide(CP_ACP, ansi, &units, &invalid);
    if (!wide)
        return 0;
    // Whole characters only: a character is taken while its bytes and the
    // terminator still fit.
    int used = 0;
    for (int i = 0; i < units;) {
        const int take = (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < units) ? 2 : 1;
        const int bytes = Utf8Bytes(wide + i, take);
        if (DWORD(used + bytes) >= size)
            break;
        WideCharToMultiByte(CP_UTF8, 0, wide + i, take, buffer + used, bytes, nullptr, nullptr);
        used += bytes;
        i += take;
    }
    buffer[used] = '\0';
    free(wide);
    return used;
}

int xUtf8ToWideIn(const char* text, WCHAR* buffer, int size)
{
    if (!*text) {
        buffer[0] = 0;
        return 0;
    }
    const int n = ToWideUnits(CP_UTF8, text, -1, buffer, size);
    if (n == 0)
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kTooLong : kNotUtf8;
    return n - 1;
}
