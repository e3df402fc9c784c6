// Four normal matrices of the same order inverted side by side, one per vector
// lane. A single inversion of a small block is a long chain of dependent steps
// (find the pivot, exchange, divide, reduce); four independent blocks in the four
// lanes of every operation keep the arithmetic units busy instead. Each lane gets
// exactly the operations, in the order, that Matrixinv applies to its block alone.
#pragma once

#include "engine/detail/lanes.h"

// Four doubles, one per lane, held in plain double storage: aligned as a double
// (a vector type's own alignment depends on the instruction set compiled for) and
// free to alias doubles.
typedef double LaneQuad __attribute__((vector_size(32), aligned(8), may_alias));
typedef long long LaneQuadMask __attribute__((vector_size(32), aligned(8), may_alias));

// Largest order invert_lanes takes.
constexpr int kMaxLaneOrder = 64;

// Where the elements of four inverses stand: the elimination's row and column
// exchanges are not undone (Matrixinv's last step, which moves rows and columns
// back and flips signs); a caller that reads each element once reads it from
// where it stands, which costs less than moving the whole block. Each position
// holds the four lanes side by side: element (i, j) of lane l's inverse is
// row_sign[i][l] * col_sign[j][l] * blocks[row_from[i][l] * n + col_from[j][l]][l],
// the signs being 1.0 or -1.0 (a product with them is exact).
struct LaneExchanges {
  LaneQuadMask row_from[kMaxLaneOrder];
  LaneQuadMask col_from[kMaxLaneOrder];
  LaneQuad row_sign[kMaxLaneOrder];
  LaneQuad col_sign[kMaxLaneOrder];
};

// blocks[j * n + k] holds element (row j, column k) of the four blocks, block l in
// lane l. Inverts every block in place as Matrixinv does, for 1 <= n <=
// kMaxLaneOrder, leaving the exchanges described in *kept, and returns a bit mask
// of the lanes (bit l for lane l) that need the single-block code instead: a block
// that met a zero pivot (Matrixinv stops there and leaves it partly transformed;
// here its lane goes on) or whose values did not all stay finite (where the sign
// of a NaN depends on the operand order). The lanes outside the mask, read
// through *kept, hold Matrixinv's result bit for bit.
unsigned invert_lanes(LaneQuad* blocks, int n, LaneExchanges* kept);

// Four systems of one order side by side: block l is the packed upper triangle
// g[l] (row by row) mirrored, rhs[l] its right-hand side. Inverts the blocks into
// blocks (order x order) and solves: xo[l * order + i] = sum over j in order of
// inverse_l[i][j] * rhs_l[j], each element of the inverse read from where the
// elimination left it, with its sign (kept, b: scratch). Returns the lanes handed
// back by the inversion, whose xo are not wanted.
unsigned solve_four(const double* const* g, const double* const* rhs, int order, LaneQuad* blocks, LaneQuad* b,
                    LaneExchanges* kept, double* xo);
