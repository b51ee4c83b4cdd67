// xAllocPrintf against the plain way (the runtime measures, calloc,
// vsprintf) on the formats that build lists. Prints both times and the ratio.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "support/format.h"

namespace {

int PlainVPrintf(char** text, const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int n = _vscprintf(format, copy);
    va_end(copy);
    char* fresh = static_cast<char*>(calloc(size_t(n) + 1, 1));
    if (!fresh) {
        free(*text);
        *text = nullptr;
        return 0;
    }
    __ms_vsprintf(fresh, format, args);
    free(*text);
    *text = fresh;
    return n + 1;
}

int PlainPrintf(char** text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = PlainVPrintf(text, format, args);
    va_end(args);
    return n;
}

typedef int (*PrintfFn)(char**, const char*, ...);

// One list of each kind the enumerations build, `items` long.
void BuildLists(PrintfFn print, int items)
{
    char* ids = nullptr;
    char* names = nullptr;
    char* states = nullptr;
    for (int i = 0; i < items; ++i) {
        print(&ids, "%s%lu%c", ids ? ids : "", (unsigned long)(i * 7919), '\t');
        print(&names, "%s%s%c", names ? names : "", "RDP-Tcp#12", '\t');
        print(&states, "%sDISCONNECTED%c", states ? states : "", '\t');
    }
    free(ids);
    free(names);
    free(states);
}

double Seconds(PrintfFn print, int items, int rounds)
{
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    for (int r = 0; r < rounds; ++r)
        BuildLists(print, items);
    QueryPerformanceCounter(&b);
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv)
{
    const int items = argc > 1 ? atoi(argv[1]) : 100;
    const int rounds = argc > 2 ? atoi(argv[2]) : 300;
    Seconds(xAllocPrintf, items, rounds / 10 + 1);  // warm up
    double best[2] = {1e9, 1e9};
    for (int trial = 0; trial < 5; ++trial) {
        double a = Seconds(xAllocPrintf, items, rounds);
        double b = Seconds(PlainPrintf, items, rounds);
        best[0] = a < best[0] ? a : best[0];
        best[1] = b < best[1] ? b : best[1];
    }
    printf("lists of %d items x %d rounds, best of 5\n", items, rounds);
    printf("xAllocPrintf: %.3f ms\nplain:        %.3f ms\nratio xAllocPrintf/plain: %.2f\n",
           best[0] * 1e3, best[1] * 1e3, best[0] / best[1]);
    return 0;
}
