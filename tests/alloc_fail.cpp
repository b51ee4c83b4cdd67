#include "tests/alloc_fail.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void __real_free(void* p);

namespace {

volatile LONG failAt = 0;
volatile LONG calls = 0;
volatile size_t largest = 0;
bool tracking = false;

// Addresses from calloc not freed yet, in an open-addressed table that
// allocates nothing itself and takes turns between threads; the lock is a
// spin lock, usable before any constructor ran.
const size_t kSlots = 1 << 16;
void* live[kSlots];
volatile LONG liveCount = 0;
volatile LONG guard = 0;

struct Lock {
    Lock()
    {
        while (InterlockedExchange(&guard, 1))
            Sleep(0);
    }
    ~Lock() { InterlockedExchange(&guard, 0); }
};

size_t Next(size_t i) { return (i + 1) & (kSlots - 1); }
size_t SlotOf(void* p) { return (reinterpret_cast<uintptr_t>(p) >> 3) & (kSlots - 1); }

void Insert(void* p)
{
    size_t i = SlotOf(p);
    while (live[i])
        i = Next(i);
    live[i] = p;
}

void Erase(void* p)
{
    for (size_t i = SlotOf(p); live[i]; i = Next(i)) {
        if (live[i] != p)
            continue;
        // Close the gap so later probes still find their blocks.
        live[i] = nullptr;
        for (size_t j = Next(i); live[j]; j = Next(j)) {
            void* moved = live[j];
            live[j] = nullptr;
            Insert(moved);
        }
        --liveCount;
        return;
    }
}

void Restart(LONG failing)
{
    Lock lock;
    failAt = failing;
    calls = 0;
    largest = 0;
    tracking = true;
    for (void*& slot : live)
        slot = nullptr;
    liveCount = 0;
}

}  // namespace

extern "C" void* __wrap_calloc(size_t count, size_t size)
{
    const LONG n = InterlockedIncrement(&calls);
    if (failAt > 0 && n == failAt)
        return nullptr;
    void* p = __real_calloc(count, size);
    if (p && tracking) {
        Lock lock;
        Insert(p);
        ++liveCount;
        largest = count * size > largest ? count * size : largest;
    }
    return p;
}

extern "C" void __wrap_free(void* p)
{
    if (p && tracking) {
        Lock lock;
        Erase(p);
    }
    __real_free(p);
}

int OutstandingCallocs() { return int(liveCount); }

void FailCallocAt(int n) { Restart(n); }

int CallocsSoFar() { return int(calls); }

size_t LargestCallocSoFar() { return largest; }

void CountCallocs() { Restart(0); }
