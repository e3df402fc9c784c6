// The records of a bootstrap replicate: blocks of consecutive records, drawn with
// replacement, keep the dependence between neighbouring samples.
#pragma once

#include <vector>

#include "control/model.h"
#include "ensemble/random.h"

// The records of blocks of `block` consecutive records beginning at `starts`, in
// order, cut at nrec records in all.
std::vector<int> records_of_blocks(int nrec, int block, const std::vector<int>& starts);

// Draws blocks until nrec records are reached: each block begins at a record drawn
// uniformly from 0 .. nrec - block (rng.below(nrec - block + 1)); a block longer
// than nrec is cut to nrec. Returns the records.
std::vector<int> draw_records(int nrec, int block, Random& rng);

// The block length the bootstrap uses when none is given: the mean of the
// politis_white_length of every factor's contributions in record order (the offset
// factor and constant contributions left out), rounded to the nearest integer and
// kept within 1 .. min(3 sqrt(nrec), nrec / 3) (1 when no factor gives a length).
int automatic_block_length(const Model& m);

// A copy of m for fitting the records `records` (nrec of them) from m's profiles
// as a new run would: the measured values and uncertainties of those records in
// that order, the fit's own tables reset, and one thread.
Model replicate_model(const Model& m, const std::vector<int>& records);
