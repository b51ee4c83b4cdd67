// Loop lengths of tests that repeat one check many times: VELQUOR_LOOP_SCALE
// divides them for runs under heap validation, which traces every
// allocation; the same loops run again at full length without it.
#pragma once
#include <cstdlib>

inline int LoopLength(int normal)
{
    const char* scale = std::getenv("VELQUOR_LOOP_SCALE");
    return scale && std::atoi(scale) > 0 ? normal / std::atoi(scale) : normal;
}
