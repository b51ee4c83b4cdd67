// Message texts from the string table, replaceable per language by language files.
#pragma once
#include <windows.h>

enum LanguageStateKind { Unresolved, ResourcesOnly, LanguageFile };

// Loads text `id` of `module` (or of the language file) into `buffer`;
// id 0 makes the language choice run again. Returns the characters placed.
// Safe on several threads: the language is chosen under the library's lock.
extern "C" int WINAPI ZELExLoadString(HMODULE module, UINT id, char* buffer, int bufferSize);

// The last "\" or "/" of `path`, walking multi-byte characters; null when none.
char* xFindLastSeparator(char* path);

// Writes `value` in `radix` (2 to 36) into `out`.
void xIntToText(int value, char* out, int radix);
