#pragma once

// Internal to the detection kernels: the x86 intrinsics, whose functions carry the instruction
// set each needs, so they can be used in functions built for that set alone.

// GCC 12's AVX-512 intrinsics start some results from a deliberately undefined value and then
// warn about it where they are inlined; the warning concerns the header, not its callers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
