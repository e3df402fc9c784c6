// The normal equations' quotients p / u / u, u a float uncertainty, without the
// divider: the reciprocal of u is split in two, r_hi = 1 / u rounded and r_lo =
// (1 - r_hi * u) * r_hi (the fused remainder is exact), so that r_hi + r_lo is
// 1 / u to about 2^-105 of it, and each quotient is
//   a / u = a * r_hi + (a * r_lo rounded)   (one fused multiply-add, one rounding),
// which gives the IEEE quotient bit for bit when every value stays far inside the
// normal range. Why: the exact quotient a / u is never closer to a midpoint
// between two doubles than 2^-25 of its unit in the last place (a has 53
// significant bits and u only 24, so a - m * u, with m a midpoint, is either a
// multiple of a fine grid and not zero, or would need more than 53 bits), while
// a * r_hi + (a * r_lo rounded) lies within about 2^-51 units of a / u before its
// single rounding; so both round to the same double. A zero dividend gives a zero
// of either sign; every sum the quotients enter starts from +0, where the sign of
// a zero term makes no difference.
#pragma once

#include <cmath>

// Whether the processor has the fused multiply-add and AVX2 that the
// reciprocal's sums take.
bool reciprocal_division_available();

// A profile element the reciprocal's sums take: zero or of magnitude in
// [2^-300, 2^300]. Then a product of two elements, or of one and a measured value
// less the offset profile, lies in [2^-700, 2^700] or is zero.
inline bool reciprocal_profile_in_range(double p) {
  const double magnitude = std::fabs(p);
  return p == 0.0 || (magnitude >= 0x1p-300 && magnitude <= 0x1p300);
}

// The normal equations of one record as the divider forms them (see
// sum_normal_equations in contribution.cpp), every term formed with the
// reciprocal: rhs (width, the profile rows pp of stride width summed in lanes of
// four up to nfakt) and g (pairs, the first used_pairs profile products pij of
// stride pairs summed in lanes of four), from the record's measured values y and
// uncertainties u (nvar; a variable with u <= 0 is left out). For a pass whose
// profiles are all in range, on a processor where it is available. Returns
// whether every sum of g, and of rhs from offset on, is finite; the divider gives
// the same sums then. (A float u lies in [2^-149, 2^128], so every quotient of a
// dividend in range stays a normal double, and the rounding of a product with
// r_lo, even a subnormal one, stays far below its last place. An infinite u or
// value gives a NaN here, where the divider may give 0: such a record goes to the
// literal kernels, whose result the divider's path equals.)
// r_hi and r_lo (nvar each) are scratch.
bool reciprocal_normal_equations(const double* pp, const double* pij, int width, int pairs, int used_pairs,
                                 const float* y, const float* u, int nfakt, int nvar, int offset, double* g,
                                 double* rhs, double* r_hi, double* r_lo);
