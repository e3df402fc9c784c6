#include "engine/detail/lane_inverse.h"

#include <cstddef>
#include <utility>

namespace {

constexpr long long kSignOff = 0x7fffffffffffffffLL;
// A position (row j, column k) as one number, j * kPosition + k.
constexpr int kPositionBits = 7;
constexpr int kPosition = 1 << kPositionBits;
static_assert(kMaxLaneOrder <= kPosition);

// The magnitudes of four lanes, by clearing their sign bits. (A macro: a function
// taking or returning lanes would change the calling convention between clones.)
// A cast between vector types of one size keeps the bits.
#define LANE_MAGNITUDE(v) ((LaneQuad)((LaneQuadMask)(v) & LaneQuadMask{kSignOff, kSignOff, kSignOff, kSignOff}))

inline unsigned lane_bits(const LaneQuadMask& mask) {
  return static_cast<unsigned>((mask[0] ? 1 : 0) | (mask[1] ? 2 : 0) | (mask[2] ? 4 : 0) | (mask[3] ? 8 : 0));
}

// The inversion for order N, or for the order n given when N is 0: the small
// orders the fit meets most are compiled each with its loops laid out in full.
template <int N>
inline __attribute__((always_inline)) unsigned invert_order(LaneQuad* a, int order, LaneExchanges* kept) {
  const int n = N > 0 ? N : order;
  auto at = [&](int j, int k) -> LaneQuad& { return a[j * n + k]; };
  LaneQuadMask pivot_row[kMaxLaneOrder];
  LaneQuadMask pivot_col[kMaxLaneOrder];
  unsigned long long row_moves[kMaxLaneOrder];  // per step i: the rows below i that some lane exchanged with
  unsigned long long col_moves[kMaxLaneOrder];
  LaneQuadMask halted = {0, 0, 0, 0};
TARNOK_UNROLL(8)
  for (int i = 0; i < n; ++i) {
    // Pivot: Matrixinv takes the first element, row by row, whose magnitude is
    // strictly greater than every one before it, which for values that are not NaN
    // is the first element of the largest magnitude. Four sweeps, each over every
    // fourth row, keep the first element larger than the ones before it (four
    // short chains of comparisons instead of one long one); of the four, the
    // largest magnitude wins and, among equal ones, the earliest position.
    // (Named lanes, not arrays, so that they stay in registers.)
    LaneQuad most0 = {}, most1 = {}, most2 = {}, most3 = {};
    LaneQuadMask at0 = {}, at1 = {}, at2 = {}, at3 = {};
    const int first = i * kPosition + i;
    auto sweep = [&](LaneQuad& largest, LaneQuadMask& position, int j) {
TARNOK_UNROLL(8)
      for (int k = i; k < n; ++k) {
        const long long e = static_cast<long long>(j) * kPosition + k;
        const LaneQuad mag = LANE_MAGNITUDE(at(j, k));
        const LaneQuadMask larger = mag > largest;
        largest = larger ? mag : largest;
        position = larger ? LaneQuadMask{e, e, e, e} : position;
      }
    };
    // Sweep q takes the rows i + q, i + q + 4, ...
TARNOK_UNROLL(8)
    for (int j = i; j < n; j += 4) {
      sweep(most0, at0, j);
      if (j + 1 < n) sweep(most1, at1, j + 1);
      if (j + 2 < n) sweep(most2, at2, j + 2);
      if (j + 3 < n) sweep(most3, at3, j + 3);
    }
    auto merge = [&](const LaneQuad& most, const LaneQuadMask& at_most) {
      const LaneQuadMask wins = (most > most0) | ((most == most0) & (at_most < at0));
      most0 = wins ? most : most0;
      at0 = wins ? at_most : at0;
    };
    merge(most1, at1);
    merge(most2, at2);
    merge(most3, at3);
    // Sweeps that saw no element above zero keep position 0; a halted lane goes on
    // with pivot (i, i), its contents no longer wanted.
    halted |= most0 == LaneQuad{0.0, 0.0, 0.0, 0.0};
    const LaneQuadMask where = halted ? LaneQuadMask{first, first, first, first} : at0;
    const LaneQuadMask row = where >> kPositionBits;
    const LaneQuadMask col = where & (kPosition - 1);
    // The rows, and the columns, that some lane exchanges with i.
    const LaneQuadMask one = {1, 1, 1, 1};
    const LaneQuadMask row_bits = one << row;
    const LaneQuadMask col_bits = one << col;
    const auto rows = static_cast<unsigned long long>((row_bits[0] | row_bits[1]) | (row_bits[2] | row_bits[3]));
    const auto cols = static_cast<unsigned long long>((col_bits[0] | col_bits[1]) | (col_bits[2] | col_bits[3]));
    pivot_row[i] = row;
    pivot_col[i] = col;
    row_moves[i] = rows >> i >> 1 << i << 1;
    col_moves[i] = cols >> i >> 1 << i << 1;
    // Row exchange; the value leaving row i is negated. Lanes that take the same
    // row go together.
    for (unsigned long long rest = rows >> i >> 1; rest != 0; rest &= rest - 1) {
      const int r = i + 1 + __builtin_ctzll(rest);
      const LaneQuadMask swap = row == r;
TARNOK_UNROLL(8)
      for (int k = 0; k < n; ++k) {
        const LaneQuad hold = at(i, k);
        const LaneQuad other = at(r, k);
        at(i, k) = swap ? other : hold;
        at(r, k) = swap ? -hold : other;
      }
    }
    // Column exchange, the same across columns.
    for (unsigned long long rest = cols >> i >> 1; rest != 0; rest &= rest - 1) {
      const int c = i + 1 + __builtin_ctzll(rest);
      const LaneQuadMask swap = col == c;
TARNOK_UNROLL(8)
      for (int j = 0; j < n; ++j) {
        const LaneQuad hold = at(j, i);
        const LaneQuad other = at(j, c);
        at(j, i) = swap ? other : hold;
        at(j, c) = swap ? -hold : other;
      }
    }
    // The exchanges have brought each lane's pivot to (i, i), sign and all (the
    // value leaving row i, or column i, is the one negated).
    const LaneQuad amax = at(i, i);
    // Pivot column, reduction of the other rows by the pivot row, pivot row.
TARNOK_UNROLL(8)
    for (int j = 0; j < n; ++j) {
      if (j != i) at(j, i) = -at(j, i) / amax;
    }
TARNOK_UNROLL(8)
    for (int j = 0; j < n; ++j) {
      if (j == i) continue;
      const LaneQuad f = at(j, i);
TARNOK_UNROLL(8)
      for (int k = 0; k < n; ++k) {
        if (k != i) at(j, k) = f * at(i, k) + at(j, k);
      }
    }
TARNOK_UNROLL(8)
    for (int k = 0; k < n; ++k) {
      if (k != i) at(i, k) = at(i, k) / amax;
    }
    at(i, i) = 1 / amax;
  }
  // Matrixinv undoes the exchanges, last step first: a row exchange comes back as
  // a column exchange and a column exchange as a row exchange. Here the same moves
  // are made on the rows' and columns' origins and signs, in all four lanes at once:
  // each lane exchanges position e with the position its pivot came from.
  for (int e = 0; e < n; ++e) {
    const long long at_e = e;
    kept->row_from[e] = kept->col_from[e] = LaneQuadMask{at_e, at_e, at_e, at_e};
    kept->row_sign[e] = kept->col_sign[e] = LaneQuad{1.0, 1.0, 1.0, 1.0};
  }
  auto exchange = [](LaneQuadMask* from, LaneQuad* sign, int e, int c, const LaneQuadMask& lanes) {
    const LaneQuadMask from_e = from[e];
    const LaneQuad sign_e = sign[e];
    from[e] = lanes ? from[c] : from_e;
    from[c] = lanes ? from_e : from[c];
    sign[e] = lanes ? sign[c] : sign_e;
    sign[c] = lanes ? sign_e : sign[c];
  };
  for (int e = n - 1; e >= 0; --e) {
    const LaneQuadMask row = pivot_row[e];
    for (unsigned long long rest = row_moves[e]; rest != 0; rest &= rest - 1) {
      const int r = __builtin_ctzll(rest);
      exchange(kept->col_from, kept->col_sign, e, r, row == r);
    }
    kept->col_sign[e] = row > e ? -kept->col_sign[e] : kept->col_sign[e];
    const LaneQuadMask col = pivot_col[e];
    for (unsigned long long rest = col_moves[e]; rest != 0; rest &= rest - 1) {
      const int c = __builtin_ctzll(rest);
      exchange(kept->row_from, kept->row_sign, e, c, col == c);
    }
    kept->row_sign[e] = col > e ? -kept->row_sign[e] : kept->row_sign[e];
  }
  // Finite values give x - x = 0; an infinity or a NaN gives a NaN. Four
  // independent sums, so that the additions do not wait on each other.
  LaneQuad check0 = {}, check1 = {}, check2 = {}, check3 = {};
  int e = 0;
TARNOK_UNROLL(4)
  for (; e + 4 <= n * n; e += 4) {
    check0 = check0 + (a[e] - a[e]);
    check1 = check1 + (a[e + 1] - a[e + 1]);
    check2 = check2 + (a[e + 2] - a[e + 2]);
    check3 = check3 + (a[e + 3] - a[e + 3]);
  }
  for (; e < n * n; ++e) check0 = check0 + (a[e] - a[e]);
  const LaneQuad all = (check0 + check1) + (check2 + check3);
  return lane_bits(halted | (all != LaneQuad{0.0, 0.0, 0.0, 0.0}));
}

}  // namespace

TARNOK_VECTOR_CLONES
unsigned TARNOK_VECTOR_BODY(invert_lanes)(LaneQuad* a, int n, LaneExchanges* kept) {
  switch (n) {
    case 1: return invert_order<1>(a, n, kept);
    case 2: return invert_order<2>(a, n, kept);
    case 3: return invert_order<3>(a, n, kept);
    case 4: return invert_order<4>(a, n, kept);
    case 5: return invert_order<5>(a, n, kept);
    case 6: return invert_order<6>(a, n, kept);
    case 7: return invert_order<7>(a, n, kept);
    case 8: return invert_order<8>(a, n, kept);
    default: return invert_order<0>(a, n, kept);
  }
}
TARNOK_VECTOR_DISPATCH(unsigned, invert_lanes, (LaneQuad * a, int n, LaneExchanges* kept), (a, n, kept))

TARNOK_VECTOR_CLONES
unsigned TARNOK_VECTOR_BODY(solve_four)(const double* const* g, const double* const* rhs, int order,
                                        LaneQuad* blocks, LaneQuad* b, LaneExchanges* kept, double* xo) {
  const double *g0 = g[0], *g1 = g[1], *g2 = g[2], *g3 = g[3];
  int e = 0;
  for (int r = 0; r < order; ++r) {
    for (int c = r; c < order; ++c, ++e) {
      const LaneQuad sum = {g0[e], g1[e], g2[e], g3[e]};
      blocks[r * order + c] = sum;
      blocks[c * order + r] = sum;
    }
  }
  const unsigned handed_back = invert_lanes(blocks, order, kept);
  // b with the signs of the inverse's columns: (s * p) * b and p * (s * b) are the
  // same number for s = 1 or -1.
  for (int j = 0; j < order; ++j) b[j] = LaneQuad{rhs[0][j], rhs[1][j], rhs[2][j], rhs[3][j]} * kept->col_sign[j];
  const double* flat = reinterpret_cast<const double*>(blocks);
  const auto lanes = static_cast<std::size_t>(order) * 4;
  for (int i = 0; i < order; ++i) {
    const LaneQuad sign = kept->row_sign[i];
    const LaneQuadMask row_from = kept->row_from[i];
    const double* row0 = flat + static_cast<std::size_t>(row_from[0]) * lanes;
    const double* row1 = flat + static_cast<std::size_t>(row_from[1]) * lanes + 1;
    const double* row2 = flat + static_cast<std::size_t>(row_from[2]) * lanes + 2;
    const double* row3 = flat + static_cast<std::size_t>(row_from[3]) * lanes + 3;
    LaneQuad sum = {0.0, 0.0, 0.0, 0.0};
    for (int j = 0; j < order; ++j) {
      const LaneQuadMask col = kept->col_from[j];
      const LaneQuad element = {row0[4 * col[0]], row1[4 * col[1]], row2[4 * col[2]], row3[4 * col[3]]};
      sum = sum + element * (sign * b[j]);
    }
    for (int l = 0; l < 4; ++l) xo[l * order + i] = sum[l];
  }
  return handed_back;
}
TARNOK_VECTOR_DISPATCH(unsigned, solve_four,
                       (const double* const* g, const double* const* rhs, int order, LaneQuad* blocks, LaneQuad* b,
                        LaneExchanges* kept, double* xo),
                       (g, rhs, order, blocks, b, kept, xo))
