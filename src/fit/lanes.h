// Vector lanes for the engine. Hot loops across independent matrix elements are
// compiled twice, for AVX2 and for the x86-64 baseline, and the loader picks the
// one the machine runs. Each element gets the same IEEE operations in the same
// order in either: AVX2 alone has no fused multiply-add, and contraction is off.
#pragma once

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TARNOK_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARNOK_VECTOR_CLONES
#endif

// Four doubles, one vector lane each: the operations of GCC's vector extension
// act lane by lane with the same IEEE arithmetic as on single doubles.
typedef double Lanes __attribute__((vector_size(32)));
typedef long long LaneMask __attribute__((vector_size(32)));  // a lane comparison, or a bit mask

// Unaligned loads and stores of four lanes (macros, as functions taking or
// returning lanes would change the calling convention between the two clones).
#define LOAD_LANES(lanes, from) std::memcpy(&(lanes), (from), sizeof(Lanes))
#define STORE_LANES(to, lanes) std::memcpy((to), &(lanes), sizeof(Lanes))
