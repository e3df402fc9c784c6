// How well the final model fits each variable and each record: the numbers of
// variables.tsv and records.tsv, the observed and fitted values a picture needs,
// and the apportionment of one variable (a total such as PM2.5 mass) among the
// factors. Computed from the model after the fit and the residue; the fit is not
// touched. A fitted value is the measured value less its residual (rawdata - dy),
// the residual the fit itself stored.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "model/fit_state.h"
#include "model/problem.h"
#include "stats/regression.h"

// A scaled residual is the residual divided by its uncertainty; beyond this
// magnitude it counts as poorly fitted.
constexpr double kScaledResidualLimit = 3.0;

struct VariableDiagnostics {
  int measured = 0;            ///< records with a positive uncertainty
  int missing = 0;             ///< records without one
  double chi2 = 0.0;           ///< chi-square, as the result table prints it
  int dof = 0;                 ///< degrees of freedom ny of the last profile step
  double chi2_per_dof = 0.0;   ///< chi2 / dof
  int beyond = 0;              ///< scaled residuals beyond +-kScaledResidualLimit
  double beyond_share = 0.0;   ///< beyond / measured
  double observed_mean = 0.0;  ///< mean measured value (measured records)
  double fitted_mean = 0.0;    ///< mean fitted value (measured records)
  double r2 = 0.0;             ///< squared correlation of fitted and observed
  double slope = 0.0;          ///< least-squares line fitted = intercept + slope * observed
  double intercept = 0.0;
};

struct RecordDiagnostics {
  int measured = 0;            ///< variables with a positive uncertainty
  double chi2 = 0.0;           ///< sum of squared scaled residuals
  double largest = 0.0;        ///< the scaled residual of largest magnitude (signed)
  int largest_variable = -1;   ///< its variable; -1 when nothing was measured
};

// Scaled residuals are counted in bins of kBinWidth from -kBinEdge to +kBinEdge,
// with one bin below and one above: kBins counts in all.
constexpr double kBinWidth = 0.5;
constexpr int kBinsInside = 20;
constexpr double kBinEdge = kBinWidth * kBinsInside / 2;
constexpr int kBins = kBinsInside + 2;

// What the pictures of one variable draw. The observed/fitted pairs are thinned
// to at most kSamplePoints (evenly over the records, keeping those with a scaled
// residual beyond the limit first); the histogram counts every measured value.
constexpr int kSamplePoints = 2000;
struct VariableSample {
  std::vector<float> observed;
  std::vector<float> fitted;
  std::array<long, kBins> histogram{};
};

struct Diagnostics {
  std::vector<VariableDiagnostics> variables;  ///< nvar
  std::vector<RecordDiagnostics> records;      ///< nrec
  std::vector<VariableSample> samples;         ///< nvar
};

Diagnostics diagnose(const Problem& problem, const FitState& state, const RegressionTable& regression);

// Each factor's mean contribution to variable v: p[v][f] times the mean of x[.][f]
// over all records, in the units of v, and its share of their sum in percent.
struct Apportionment {
  int variable = -1;
  double observed_mean = 0.0;          ///< mean measured value of v (measured records)
  std::vector<double> mean;            ///< nfakt
  std::vector<double> percent;         ///< nfakt
};

Apportionment apportion(const Problem& problem, const FitState& state, int v);

// Index of the variable named `name`, or -1.
int find_variable(const Problem& problem, const std::string& name);
