// Hot loops across independent matrix elements are compiled twice, for AVX2 and
// for the x86-64 baseline, and the loader picks the one the machine runs. Each
// element gets the same IEEE operations in the same order in either: AVX2 alone
// has no fused multiply-add, and contraction is off anyway.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TARNOK_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARNOK_VECTOR_CLONES
#endif
