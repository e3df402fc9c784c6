// In-place inversion of the small normal-equation matrices of the fit.
#pragma once

// Inverts the leading n x n block of a (row stride `stride`) in place by
// Gauss-Jordan elimination with full pivoting and stores its determinant in *det.
// A singular block (every remaining element exactly 0.0 at some step) gives
// *det = 0.0 and is left partly transformed. n = 0 gives *det = 1.0 and leaves a
// untouched. ik and jk receive the pivot row and column of each step (n entries).
// The elimination runs across vector lanes; where a value that is not finite
// turns up, the block is inverted again by the literal code, whose operand order
// decides the sign of a NaN.
void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk);

// Rows of a block of order n padded to whole vector lanes: the row stride that
// invert_finite needs.
int lanes_width(int n);

// The same inversion with the elimination run across vector lanes. The row
// stride must be at least lanes_width(n); the columns from n up to it are scratch
// (they end up zero). Returns false when a value that is not finite turned up,
// leaving the block undefined; with finite values throughout, the block and *det
// are those of Matrixinv bit for bit.
bool invert_finite(double* a, int stride, int n, double* det, int* ik, int* jk);
