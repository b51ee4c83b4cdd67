/* Asks the library whether this Windows system is a Terminal Services system,
 * finding the exports by their decorated names at run time. */
#include <stdio.h>
#include <windows.h>

typedef BOOL(WINAPI* PresentFn)(void);
typedef BOOL(WINAPI* ValidateFn)(LPCSTR);

int main(void)
{
    HMODULE dll = LoadLibraryA("velquor.dll");
    if (!dll) {
        printf("velquor.dll did not load (error %lu)\n", GetLastError());
        return 1;
    }
    PresentFn present = (PresentFn)(void*)GetProcAddress(dll, "_QRVTS_IsTerminalServiceProductPresent@0");
    ValidateFn validate = (ValidateFn)(void*)GetProcAddress(dll, "_QRVTS_ValidateProductSuite@4");
    if (!present || !validate) {
        printf("velquor.dll lacks the presence exports\n");
        return 1;
    }
    printf("Terminal Services present: %s\n", present() ? "yes" : "no");
    printf("Product suite \"Terminal Server\" listed: %s\n", validate("Terminal Server") ? "yes" : "no");
    FreeLibrary(dll);
    return 0;
}
