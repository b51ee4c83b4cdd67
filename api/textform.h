// The two ways into the exports that take or give texts: ANSI texts on the
// platform's ...A entry points (Char = char), and UTF-8 texts on its ...W
// entry points (Char = WCHAR), converted once, at the edge. One body of
// code serves both; what differs is gathered here.
#pragma once
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "support/format.h"
#include "support/list.h"
#include "support/utf8.h"

template <class Char>
struct TextForm;

template <>
struct TextForm<char> {
    static const char kEntrySuffix = 'A';
    static constexpr const char* kExportSuffix = "";

    static bool AppendToList(ListText* list, const char* text) { return xListAppendText(list, text); }
    // A new text of the first `units` characters of `text`; false when memory ran out.
    static bool Copy(char** out, const char* text, int units)
    {
        xAllocPrintf(out, "%.*s", units, text ? text : "");
        return *out != nullptr;
    }
    // The caller's text in the platform's form; null when memory ran out.
    static char* FromCaller(const char* text, int* units, bool* invalid)
    {
        *invalid = false;
        char* copy = nullptr;
        xAllocPrintf(&copy, "%s", text ? text : "");
        *units = copy ? lstrlenA(copy) : 0;
        return copy;
    }
    // The length the platform's message box takes: characters.
    static DWORD MessageLength(int units) { return DWORD(units); }
};

template <>
struct TextForm<WCHAR> {
    static const char kEntrySuffix = 'W';
    static constexpr const char* kExportSuffix = "Utf8";

    static bool AppendToList(ListText* list, const WCHAR* text) { return xListAppendWide(list, text); }
    static bool Copy(char** out, const WCHAR* text, int units) { return xAllocUtf8(out, text, units); }
    static WCHAR* FromCaller(const char* text, int* units, bool* invalid) { return xAllocWide(text, units, invalid); }
    // The wide message box takes its lengths in bytes.
    static DWORD MessageLength(int units) { return DWORD(units) * sizeof(WCHAR); }
};

// A failure's place text for the export of form Char: in `pattern`, "@"
// stands for the entry point's form letter, "$" for the export's suffix,
// "#" for `detail` and "&" for `name`.
template <class Char>
class Place {
public:
    explicit Place(const char* pattern, const char* detail = "", const char* name = "")
    {
        char* at = text_;
        char* const end = text_ + sizeof text_ - 1;
        for (const char* p = pattern; *p && at < end; ++p) {
            if (*p == '@')
                *at++ = TextForm<Char>::kEntrySuffix;
            else if (*p == '$')
                at = Append(at, end, TextForm<Char>::kExportSuffix);
            else if (*p == '#' || *p == '&')
                at = Append(at, end, *p == '#' ? detail : name);
            else
                *at++ = *p;
        }
        *at = '\0';
    }
    operator const char*() const { return text_; }

private:
    static char* Append(char* at, char* end, const char* text)
    {
        while (*text && at < end)
            *at++ = *text++;
        return at;
    }
    char text_[200];
};

// A caller's text in the platform's form, freed with the holder.
template <class Char>
struct CallerText {
    Char* text = nullptr;
    int units = 0;
    bool invalid = false;

    explicit CallerText(const char* from) { text = TextForm<Char>::FromCaller(from, &units, &invalid); }
    ~CallerText() { free(text); }
    CallerText(const CallerText&) = delete;
    CallerText& operator=(const CallerText&) = delete;
};
