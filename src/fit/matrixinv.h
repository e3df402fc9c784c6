// In-place inversion of the small normal-equation matrices of the fit.
#pragma once

// Inverts the leading n x n block of a (row stride `stride`) in place by
// Gauss-Jordan elimination with full pivoting and stores its determinant in *det.
// A singular block (every remaining element exactly 0.0 at some step) gives
// *det = 0.0 and is left partly transformed. n = 0 gives *det = 1.0 and leaves a
// untouched. ik and jk receive the pivot row and column of each step (n entries).
void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk);
