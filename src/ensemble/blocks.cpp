#include "ensemble/blocks.h"

#include <algorithm>
#include <cmath>

#include "ensemble/statistics.h"

std::vector<int> records_of_blocks(int nrec, int block, const std::vector<int>& starts) {
  std::vector<int> records;
  records.reserve(static_cast<std::size_t>(nrec));
  for (int start : starts) {
    for (int i = 0; i < block && static_cast<int>(records.size()) < nrec; ++i) records.push_back(start + i);
  }
  return records;
}

std::vector<int> draw_records(int nrec, int block, Random& rng) {
  block = std::clamp(block, 1, std::max(nrec, 1));
  std::vector<int> starts;
  const auto choices = static_cast<std::uint64_t>(nrec - block + 1);
  for (long drawn = 0; drawn < nrec; drawn += block) starts.push_back(static_cast<int>(rng.below(choices)));
  return records_of_blocks(nrec, block, starts);
}

std::vector<int> replicate_records(int nrec, int block, std::uint64_t seed, int i) {
  constexpr std::uint64_t kFirstReplicateStream = std::uint64_t{1} << 32;
  Random rng(seed, kFirstReplicateStream + static_cast<std::uint64_t>(i));
  return draw_records(nrec, block, rng);
}

int automatic_block_length(const Problem& problem, const FitState& state) {
  const auto nrec = static_cast<std::size_t>(problem.nrec);
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  double sum = 0.0;
  int counted = 0;
  std::vector<double> series(nrec);
  for (std::size_t f = static_cast<std::size_t>(problem.offset); f < nfakt; ++f) {
    for (std::size_t s = 0; s < nrec; ++s) series[s] = state.x[s * nfakt + f];
    const double length = politis_white_length(series);
    if (length > 0.0 && std::isfinite(length)) {
      sum += length;
      ++counted;
    }
  }
  const double nd = static_cast<double>(nrec);
  const double ceiling = std::max(1.0, std::floor(std::min(3.0 * std::sqrt(nd), nd / 3.0)));
  if (counted == 0) return 1;
  return static_cast<int>(std::clamp(std::round(sum / counted), 1.0, ceiling));
}

Problem replicate_problem(const Problem& problem, const std::vector<double>& p, const std::vector<int>& records) {
  Problem r;
  r.nfakt = problem.nfakt;
  r.nvar = problem.nvar;
  r.nrec = static_cast<int>(records.size());
  r.offset = problem.offset;
  r.faktnavn = problem.faktnavn;
  r.varnavn = problem.varnavn;
  r.text = problem.text;
  r.xnavn = problem.xnavn;
  r.starting_p = p;
  r.fp = problem.fp;
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  r.rawdata.resize(records.size() * nvar);
  r.usik.resize(records.size() * nvar);
  for (std::size_t s = 0; s < records.size(); ++s) {
    const std::size_t from = static_cast<std::size_t>(records[s]) * nvar;
    std::copy_n(problem.rawdata.data() + from, nvar, r.rawdata.data() + s * nvar);
    std::copy_n(problem.usik.data() + from, nvar, r.usik.data() + s * nvar);
  }
  // Where a record was drawn before, its contributions need not be solved again.
  std::vector<int> first_at(static_cast<std::size_t>(problem.nrec), -1);
  r.copy_of.resize(records.size());
  for (std::size_t s = 0; s < records.size(); ++s) {
    int& first = first_at[static_cast<std::size_t>(records[s])];
    if (first < 0) first = static_cast<int>(s);
    r.copy_of[s] = first;
  }
  return r;
}
