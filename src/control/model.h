// The model state of one run: dimensions, the tables read from the input files,
// the tables the fit produces and the solver's scratch space. Every phase reads and
// writes this one struct; no phase keeps tables of its own. The measured values and
// uncertainties are shared by copies of the model (several fits of one run).
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

  // Pass totals of the latest pass; after the fit, those of the final shortened pass.
  double chi2 = 0.0;          ///< sum of squared weighted residuals
  int nytot = 0;              ///< degrees of freedom of the pass
  double sumsq = 0.0;         ///< sum of squared contributions
  int nfree = 0;              ///< free profile elements after the latest profile step
  std::vector<double> sum2;   ///< per-factor sum of contributions in the pass, nfakt

  // Solver scratch, sized nfakt (a: nfakt x nfakt) or nvar (y, w).
  std::vector<double> a;      ///< normal-equation matrix, row stride nfakt
  std::vector<int> ik;        ///< pivot rows chosen by Matrixinv
  std::vector<int> jk;        ///< pivot columns chosen by Matrixinv
  std::vector<double> b;      ///< right-hand side of the normal equations
  std::vector<double> xo;     ///< solution of the latest small least-squares problem
  std::vector<int> active;    ///< active list of factor indexes
  std::vector<double> y;      ///< values of the record being fitted
  std::vector<double> w;      ///< uncertainties of the record being fitted

  // Identifier of record s as read from the data file.
  std::string_view id(int s) const {
    std::uint64_t begin = s == 0 ? 0 : id_end[static_cast<std::size_t>(s) - 1];
    return std::string_view(ids).substr(begin, id_end[static_cast<std::size_t>(s)] - begin);
  }
};
