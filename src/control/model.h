// The model state of one run: dimensions, the tables read from the input files
// and the tables the fit produces. Every phase reads and writes this one struct.
// The solvers' scratch lives with each thread of the engine, not here. The
// measured values and uncertainties are shared by copies of the model (several
// fits of one run).
//
// Glossary of the domain names (shape; unit):
//   nfakt     number of factors, the sources (scalar; count)
//   nvar      number of variables, the measured species (scalar; count)
//   nrec      number of records, the samples (scalar; count)
//   faktnavn  factor names, from the profile header (nfakt; text)
//   varnavn   variable names, cut to 19 characters (nvar; text)
//   xnavn     heading of the record-identifier column (text)
//   rawdata   measured values (nrec x nvar; the data file's unit, e.g. ug/m3)
//   usik      uncertainties of the measured values (nrec x nvar; as rawdata)
//   p         profiles: amount of variable v per unit contribution of factor f
//             (nvar x nfakt; rawdata's unit per contribution unit)
//   fp        form: free (nonzero) or held (0) profile elements (nvar x nfakt; flag)
//   x         contributions of the factors to each record (nrec x nfakt; contribution unit)
//   dy        residuals, measured less fitted (nrec x nvar; as rawdata)
//   r, t      residue profile (nvar) and residue contributions (nrec, summing to 1)
//   ny        degrees of freedom per variable (nvar; count)
//   chi2      sum of squared residuals over squared uncertainties (scalar; none)
//   nytot     degrees of freedom of a pass (scalar; count)
//   sum2      per-factor sum of contributions in a pass (nfakt; contribution unit)
//   sumsq     sum of squared contributions in a pass (scalar; squared contribution unit)
//   damp      divisor of every profile correction: 10 in pass 1, down to 1 (scalar)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/shared_table.h"

struct Model {
  // Dimensions, fixed once the input files have been read.
  int nfakt = 0;  ///< number of factors (sources)
  int nvar = 0;   ///< number of variables
  int nrec = 0;   ///< number of data records (samples)

  // Names and texts.
  std::vector<std::string> faktnavn;  ///< factor names in profile-header order
  std::vector<std::string> varnavn;   ///< variable names, each cut to 19 characters
  std::string text;                   ///< the data file's title
  std::string xnavn;                  ///< heading of the record-identifier column (may be empty)
  std::string ids;                    ///< record identifiers back to back
  std::vector<std::uint64_t> id_end;  ///< nrec: identifier s is ids[id_end[s-1] .. id_end[s])

  // Tables read from the input files.
  std::vector<double> p;        ///< profiles, nvar x nfakt, p[v * nfakt + f]
  std::vector<int> fp;          ///< form, nvar x nfakt; nonzero marks p[v * nfakt + f] free
  SharedTable<float> rawdata;   ///< measured values, nrec x nvar (shared by copies of the model)
  SharedTable<float> usik;      ///< uncertainties, nrec x nvar; <= 0 marks a missing value (shared)
  std::vector<int> copy_of;     ///< nrec or empty: a record that repeats an earlier one (a bootstrap
                                ///< replicate) names it, any other names itself; the contribution
                                ///< step solves a repeated record once when the values are the same
  std::vector<float> ueff;      ///< robust mode only: the uncertainties the fit weighs with, nrec x nvar
                                ///< (usik, raised for values with large scaled residuals); empty otherwise

  // Tables the fit produces.
  std::vector<float> dy;        ///< residuals (value minus model), nrec x nvar
  std::vector<double> x;        ///< contributions, nrec x nfakt, x[s * nfakt + f]
  std::vector<double> t;        ///< residue contributions, nrec
  std::vector<float> r;         ///< residue profile, nvar
  std::vector<int> ny;          ///< degrees of freedom per variable after the last profile step

  // Run parameters.
  int offset = 0;      ///< 1 in offset mode: factor 0 has contribution 1.0 in every record
  float rotate = 0.0f; ///< strength of the pull in the profile step
  int damp = 10;       ///< divisor applied to every profile correction
  int threads = 1;     ///< worker threads of the fit and the regression (results do not depend on it)
  double alpha = 0.0;  ///< robust mode: scaled residual |dy / u| beyond which a value is down-weighted; 0: off

  // Pass totals of the latest pass; after the fit, those of the final shortened pass.
  double chi2 = 0.0;          ///< sum of squared weighted residuals
  int nytot = 0;              ///< degrees of freedom of the pass
  double sumsq = 0.0;         ///< sum of squared contributions
  int nfree = 0;              ///< free profile elements after the latest profile step
  std::vector<double> sum2;   ///< per-factor sum of contributions in the pass, nfakt

  // The uncertainties the normal equations, the residue and the regression weigh
  // with: ueff in robust mode, usik otherwise.
  const std::vector<float>& fit_usik() const { return alpha > 0 ? ueff : usik.values(); }

  // Identifier of record s as read from the data file.
  std::string_view id(int s) const {
    std::uint64_t begin = s == 0 ? 0 : id_end[static_cast<std::size_t>(s) - 1];
    return std::string_view(ids).substr(begin, id_end[static_cast<std::size_t>(s)] - begin);
  }
};
