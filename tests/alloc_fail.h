// Allocation-failure injection for programs linked with -Wl,--wrap=calloc;
// safe to use from several threads at once.
#pragma once

// The `n`-th calloc from now (1 = the next one) returns null; 0 disarms.
void FailCallocAt(int n);
// Number of calloc calls since the last FailCallocAt or CountCallocs.
int CallocsSoFar();
void CountCallocs();
// Blocks allocated by calloc and not yet freed, counted by programs that
// also link with -Wl,--wrap=free.
int OutstandingCallocs();
