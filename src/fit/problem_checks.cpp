#include "fit/problem_checks.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "control/failure.h"
#include "control/text_format.h"

void refuse_fewer_records_than_factors(const Problem& problem, const std::string& data) {
  if (problem.nrec >= problem.nfakt) return;
  fail("Error: %s: %d record%s but %d factors; there must be at least as many records as factors!\n", data.c_str(),
       problem.nrec, problem.nrec == 1 ? "" : "s", problem.nfakt);
}

void refuse_block_above_records(long block, const Problem& problem, const std::string& data) {
  if (block <= problem.nrec) return;
  fail("Error: --block %ld is more than the %d record%s of %s; a block holds at most every record!\n", block,
       problem.nrec, problem.nrec == 1 ? "" : "s", data.c_str());
}

std::string unmeasured_records_warning(const Problem& problem, const std::string& data) {
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  int count = 0;
  int first = -1;
  for (int s = 0; s < problem.nrec; ++s) {
    const float* u = problem.usik.data() + static_cast<std::size_t>(s) * nvar;
    if (std::none_of(u, u + nvar, [](float value) { return value > 0; })) {
      if (count++ == 0) first = s;
    }
  }
  if (count == 0) return {};
  return format_text(
      "tarnok: %s: %d record%s with nothing measured (every uncertainty 0 or less), the first record %d "
      "'%s': %s contributions%s and residue are 0 and %s no part in the fit.\n",
      data.c_str(), count, count == 1 ? "" : "s", first + 1, quote_cell(problem.id(first)).c_str(),
      count == 1 ? "its" : "their", problem.offset != 0 ? " (but the offset's 1)" : "",
      count == 1 ? "it takes" : "they take");
}

FitState allocate_state(const Problem& problem) {
  try {
    return FitState::sized_for(problem);
  } catch (const NoMemoryFor& no_memory) {
    if (std::string(no_memory.table()) == "sum2") fail("No memory. Reduce number of sources.\n");
    fail("No memory for %s. Reduce number of records.\n", no_memory.table());
  }
}
