// Allocation-failure injection for programs linked with -Wl,--wrap=calloc;
// safe to use from several threads at once.
#pragma once
#include <cstddef>

// The `n`-th calloc from now (1 = the next one) returns null; 0 disarms.
void FailCallocAt(int n);
// Number of calloc calls since the last FailCallocAt or CountCallocs.
int CallocsSoFar();
// The largest block calloc handed out since then.
size_t LargestCallocSoFar();
void CountCallocs();
// Blocks allocated by calloc and not yet freed, counted by programs that
// also link with -Wl,--wrap=free.
int OutstandingCallocs();
