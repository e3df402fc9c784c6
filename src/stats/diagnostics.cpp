#include "stats/diagnostics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

std::size_t cell(const Problem& problem, int s, int v) {
  return static_cast<std::size_t>(s) * static_cast<std::size_t>(problem.nvar) + static_cast<std::size_t>(v);
}

double scaled_residual(const Problem& problem, const FitState& state, std::size_t c) {
  return static_cast<double>(state.dy[c]) / static_cast<double>(problem.usik[c]);
}

int bin_of(double q) {
  if (!(q >= -kBinEdge)) return q < 0 ? 0 : kBins - 1;  // below, or not a number (counted above)
  if (q >= kBinEdge) return kBins - 1;
  const int inside = static_cast<int>(std::floor((q + kBinEdge) / kBinWidth));
  return 1 + std::min(inside, kBinsInside - 1);
}

// Counts, means, the line of fitted on observed and the histogram of variable v.
void diagnose_variable(const Problem& problem, const FitState& state, int v, VariableDiagnostics& d, VariableSample& sample) {
  double sum_observed = 0.0;
  double sum_fitted = 0.0;
  for (int s = 0; s < problem.nrec; ++s) {
    const std::size_t c = cell(problem, s, v);
    if (!(problem.usik[c] > 0)) continue;
    ++d.measured;
    const double observed = static_cast<double>(problem.rawdata[c]);
    sum_observed += observed;
    sum_fitted += observed - static_cast<double>(state.dy[c]);
    const double q = scaled_residual(problem, state, c);
    if (std::fabs(q) > kScaledResidualLimit) ++d.beyond;
    ++sample.histogram[static_cast<std::size_t>(bin_of(q))];
  }
  d.missing = problem.nrec - d.measured;
  d.chi2_per_dof = d.chi2 / d.dof;
  if (d.measured == 0) return;
  const double n = d.measured;
  d.beyond_share = d.beyond / n;
  d.observed_mean = sum_observed / n;
  d.fitted_mean = sum_fitted / n;
  double sxx = 0.0;
  double sxy = 0.0;
  double syy = 0.0;
  // Every stride-th measured record is drawn; those beyond the limit are drawn
  // whatever their place, while room is left.
  const int stride = std::max(1, (d.measured + kSamplePoints / 2 - 1) / (kSamplePoints / 2));
  int seen = 0;
  for (int s = 0; s < problem.nrec; ++s) {
    const std::size_t c = cell(problem, s, v);
    if (!(problem.usik[c] > 0)) continue;
    const double observed = static_cast<double>(problem.rawdata[c]);
    const double fitted = observed - static_cast<double>(state.dy[c]);
    const double dx = observed - d.observed_mean;
    const double dyv = fitted - d.fitted_mean;
    sxx += dx * dx;
    sxy += dx * dyv;
    syy += dyv * dyv;
    const bool outlier = std::fabs(scaled_residual(problem, state, c)) > kScaledResidualLimit;
    if ((seen % stride == 0 || outlier) && sample.observed.size() < static_cast<std::size_t>(kSamplePoints)) {
      sample.observed.push_back(problem.rawdata[c]);
      sample.fitted.push_back(static_cast<float>(fitted));
    }
    ++seen;
  }
  d.slope = sxy / sxx;
  d.intercept = d.fitted_mean - d.slope * d.observed_mean;
  d.r2 = sxy / sxx * sxy / syy;
}

void diagnose_record(const Problem& problem, const FitState& state, int s, RecordDiagnostics& d) {
  for (int v = 0; v < problem.nvar; ++v) {
    const std::size_t c = cell(problem, s, v);
    if (!(problem.usik[c] > 0)) continue;
    ++d.measured;
    const double q = scaled_residual(problem, state, c);
    d.chi2 += q * q;
    if (d.largest_variable < 0 || std::fabs(q) > std::fabs(d.largest)) {
      d.largest = q;
      d.largest_variable = v;
    }
  }
}

}  // namespace

Diagnostics diagnose(const Problem& problem, const FitState& state, const RegressionTable& regression) {
  Diagnostics out;
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  out.variables.resize(nvar);
  out.samples.resize(nvar);
  for (std::size_t v = 0; v < nvar; ++v) {
    VariableDiagnostics& d = out.variables[v];
    d.chi2 = regression.chi[v];
    d.dof = v < state.ny.size() ? state.ny[v] : 0;
    diagnose_variable(problem, state, static_cast<int>(v), d, out.samples[v]);
  }
  out.records.resize(static_cast<std::size_t>(problem.nrec));
  for (int s = 0; s < problem.nrec; ++s) diagnose_record(problem, state, s, out.records[static_cast<std::size_t>(s)]);
  return out;
}

Apportionment apportion(const Problem& problem, const FitState& state, int v) {
  Apportionment a;
  a.variable = v;
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  std::vector<double> mean_x(nfakt, 0.0);
  for (int s = 0; s < problem.nrec; ++s) {
    for (std::size_t f = 0; f < nfakt; ++f) mean_x[f] += state.x[static_cast<std::size_t>(s) * nfakt + f];
  }
  double total = 0.0;
  a.mean.resize(nfakt);
  for (std::size_t f = 0; f < nfakt; ++f) {
    mean_x[f] = mean_x[f] / problem.nrec;
    a.mean[f] = state.p[static_cast<std::size_t>(v) * nfakt + f] * mean_x[f];
    total += a.mean[f];
  }
  a.percent.resize(nfakt);
  for (std::size_t f = 0; f < nfakt; ++f) a.percent[f] = a.mean[f] / total * 100.0;
  double sum = 0.0;
  int measured = 0;
  for (int s = 0; s < problem.nrec; ++s) {
    const std::size_t c = cell(problem, s, v);
    if (!(problem.usik[c] > 0)) continue;
    sum += static_cast<double>(problem.rawdata[c]);
    ++measured;
  }
  a.observed_mean = sum / measured;
  return a;
}

int find_variable(const Problem& problem, const std::string& name) {
  for (std::size_t v = 0; v < problem.varnavn.size(); ++v) {
    if (problem.varnavn[v] == name) return static_cast<int>(v);
  }
  return -1;
}
