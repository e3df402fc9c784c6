// Records a bootstrap replicate repeats: a record that names an earlier one in
// problem.copy_of, with the very same bits of values and uncertainties, has the
// same contributions and adds the same to every sum over records, so a step may
// solve it once.
#pragma once

#include <vector>

#include "model/problem.h"

// Per record: itself, or the earlier record whose values (rawdata) and
// uncertainties (`usik`, nrec x nvar, the ones the step weighs with) it repeats.
std::vector<int> record_sources(const Problem& problem, const std::vector<float>& usik);
