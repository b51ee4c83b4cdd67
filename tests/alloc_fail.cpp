#include "tests/alloc_fail.h"

#include <cstddef>
#include <set>

extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void __real_free(void* p);

namespace {
int failAt = 0;
int calls = 0;
// Addresses from calloc not freed yet; kept off the wrapped heap calls.
std::set<void*>* live = nullptr;
bool tracking = false;
}  // namespace

extern "C" void* __wrap_calloc(size_t count, size_t size)
{
    ++calls;
    if (failAt > 0 && calls == failAt)
        return nullptr;
    void* p = __real_calloc(count, size);
    if (p && tracking) {
        tracking = false;  // the set allocates too
        if (!live)
            live = new std::set<void*>;
        live->insert(p);
        tracking = true;
    }
    return p;
}

extern "C" void __wrap_free(void* p)
{
    if (p && tracking && live) {
        tracking = false;
        live->erase(p);
        tracking = true;
    }
    __real_free(p);
}

int OutstandingCallocs() { return live ? int(live->size()) : 0; }

void FailCallocAt(int n)
{
    failAt = n;
    calls = 0;
    tracking = true;
    if (live)
        live->clear();
}

int CallocsSoFar() { return calls; }

void CountCallocs()
{
    failAt = 0;
    calls = 0;
    tracking = true;
    if (live)
        live->clear();
}
