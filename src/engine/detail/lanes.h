// Vector lanes for the engine. Hot loops across independent matrix elements are
// compiled twice, for AVX2 and for the x86-64 baseline, and the one the machine
// runs is picked: by the loader where it can (ELF systems), otherwise by a CPU
// check at run time. Each element gets the same IEEE operations in the same order
// in either: AVX2 alone has no fused multiply-add, and contraction is off. (The
// normal equations' quotients use fused multiply-adds on purpose, where they give
// the divider's result exactly: see reciprocal_division.h.)
//
// A function with two versions is written as
//
//   TARNOK_VECTOR_CLONES
//   void TARNOK_VECTOR_BODY(name)(params) { ... }
//   TARNOK_VECTOR_DISPATCH(void, name, (params), (args))
#pragma once

#include <cstring>

// Asks GCC to unroll the next loop n times. Other compilers choose for themselves:
// clang warns where it cannot follow such a request (a loop of an order known only
// at run time), and unrolling never changes a result.
#define TARNOK_STRINGIFY(text) #text
#if defined(__GNUC__) && !defined(__clang__)
#define TARNOK_UNROLL(n) _Pragma(TARNOK_STRINGIFY(GCC unroll n))
#else
#define TARNOK_UNROLL(n)
#endif

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__)
#define TARNOK_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#define TARNOK_VECTOR_BODY(name) name
#define TARNOK_VECTOR_DISPATCH(result, name, params, args)
#elif defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// Without the loader's selection (Windows) the body is inlined into two entry
// points, one compiled for AVX2, and each call takes the one the CPU runs.
inline bool cpu_has_avx2() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
  return has;
}
#define TARNOK_VECTOR_CLONES
#define TARNOK_VECTOR_BODY(name) __attribute__((always_inline)) inline name##_lanes
#define TARNOK_VECTOR_DISPATCH(result, name, params, args)                      \
  __attribute__((target("avx2"))) result name##_avx2 params { return name##_lanes args; } \
  result name##_baseline params { return name##_lanes args; }                  \
  result name params { return cpu_has_avx2() ? name##_avx2 args : name##_baseline args; }
#else
#define TARNOK_VECTOR_CLONES
#define TARNOK_VECTOR_BODY(name) name
#define TARNOK_VECTOR_DISPATCH(result, name, params, args)
#endif

// Four doubles, one vector lane each: the operations of GCC's vector extension
// act lane by lane with the same IEEE arithmetic as on single doubles.
typedef double Lanes __attribute__((vector_size(32)));
typedef long long LaneMask __attribute__((vector_size(32)));  // a lane comparison, or a bit mask
typedef float FloatLanes __attribute__((vector_size(16)));   // four floats

// Unaligned loads and stores of four lanes (macros, as functions taking or
// returning lanes would change the calling convention between the two clones).
#define LOAD_LANES(lanes, from) std::memcpy(&(lanes), (from), sizeof(Lanes))
#define STORE_LANES(to, lanes) std::memcpy((to), &(lanes), sizeof(Lanes))

// Whether values[0 .. n-1] are all finite: x - x is 0 for a finite x and a NaN for
// an infinity or a NaN, so one sum in lanes tells, without a branch per value.
// The lanes are pairs, which every x86-64 processor holds in one register: the
// check is called from code compiled for any instruction set.
inline bool all_finite(const double* values, int n) {
  typedef double PairLanes __attribute__((vector_size(16)));
  PairLanes check0 = {0.0, 0.0}, check1 = {0.0, 0.0};
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    PairLanes v0, v1;
    std::memcpy(&v0, values + k, sizeof v0);
    std::memcpy(&v1, values + k + 2, sizeof v1);
    check0 = check0 + (v0 - v0);
    check1 = check1 + (v1 - v1);
  }
  double rest = 0.0;
  for (; k < n; ++k) rest = rest + (values[k] - values[k]);
  const PairLanes check = check0 + check1;
  return check[0] == 0.0 && check[1] == 0.0 && rest == 0.0;
}

// The same for floats.
inline bool all_finite(const float* values, int n) {
  FloatLanes check = {0.0f, 0.0f, 0.0f, 0.0f};
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    FloatLanes v;
    std::memcpy(&v, values + k, sizeof v);
    check = check + (v - v);
  }
  float rest = 0.0f;
  for (; k < n; ++k) rest = rest + (values[k] - values[k]);
  return check[0] == 0.0f && check[1] == 0.0f && check[2] == 0.0f && check[3] == 0.0f && rest == 0.0f;
}
