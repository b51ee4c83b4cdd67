#include "tests/alloc_fail.h"

#include <cstddef>

extern "C" void* __real_calloc(size_t count, size_t size);

namespace {
int failAt = 0;
int calls = 0;
}  // namespace

extern "C" void* __wrap_calloc(size_t count, size_t size)
{
    ++calls;
    if (failAt > 0 && calls == failAt)
        return nullptr;
    return __real_calloc(count, size);
}

void FailCallocAt(int n)
{
    failAt = n;
    calls = 0;
}

int CallocsSoFar() { return calls; }

void CountCallocs()
{
    failAt = 0;
    calls = 0;
}
