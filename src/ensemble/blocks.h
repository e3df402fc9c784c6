// The records of a bootstrap replicate: blocks of consecutive records, drawn with
// replacement, keep the dependence between neighbouring samples.
#pragma once

#include <cstdint>
#include <vector>

#include "model/fit_state.h"
#include "model/problem.h"
#include "ensemble/random.h"

// The records of blocks of `block` consecutive records beginning at `starts`, in
// order, cut at nrec records in all.
std::vector<int> records_of_blocks(int nrec, int block, const std::vector<int>& starts);

// Draws blocks until nrec records are reached: each block begins at a record drawn
// uniformly from 0 .. nrec - block (rng.below(nrec - block + 1)); a block longer
// than nrec is cut to nrec. Returns the records.
std::vector<int> draw_records(int nrec, int block, Random& rng);

// The records of bootstrap replicate i (from 0) for a seed: draw_records from
// Random(seed, 2^32 + i). Every ensemble that refits replicates (the bootstrap,
// the displacement within replicates) draws them here, so one seed gives them the
// same data.
std::vector<int> replicate_records(int nrec, int block, std::uint64_t seed, int i);

// The block length the bootstrap uses when none is given: the mean of the
// politis_white_length of every factor's contributions in record order (the offset
// factor and constant contributions left out), rounded to the nearest integer and
// kept within 1 .. min(3 sqrt(nrec), nrec / 3) (1 when no factor gives a length).
int automatic_block_length(const Problem& problem, const FitState& state);

// The problem of a bootstrap replicate: the records `records` of `problem` (nrec
// of them) in that order, with their measured values and uncertainties and no
// identifiers, starting from the profiles p (the base fit's result).
Problem replicate_problem(const Problem& problem, const std::vector<double>& p, const std::vector<int>& records);
