// The inversion of the small normal-equation matrices across vector lanes, behind
// Matrixinv (engine/engine.h).
#pragma once

// Rows of a block of order n padded to whole vector lanes: the row stride that
// invert_finite needs.
int lanes_width(int n);

// The same inversion with the elimination run across vector lanes. The row
// stride must be at least lanes_width(n); the columns from n up to it are scratch
// (they end up zero). Returns false when a value that is not finite turned up,
// leaving the block undefined; with finite values throughout, the block and *det
// are those of Matrixinv bit for bit.
bool invert_finite(double* a, int stride, int n, double* det, int* ik, int* jk);
