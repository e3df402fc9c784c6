// What the report draws, all handed over from memory by the run: the run record,
// the diagnostic tables, the numbers of the result table (which may have gone to a
// device such as /dev/null), the observed and fitted values behind each variable's
// pictures, and the tables of starts and bootstrap when the run made them.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "control/text_table.h"

// The numbers of a result table.
struct ResultNumbers {
  int nfakt = 0;
  int nvar = 0;
  int nrec = 0;
  std::vector<std::string> ids;  ///< record identifiers, nrec
  std::vector<double> x;         ///< contributions, nrec x nfakt
  std::vector<double> t;         ///< residue contributions, nrec
  std::vector<double> p;         ///< profiles, nvar x nfakt
  std::vector<double> r;         ///< residue profile, nvar
};

// The pictures of one variable: thinned observed/fitted pairs and the counts of
// its scaled residuals between histogram edges (counts.size() + 1 edges; the first
// and last bins collect everything beyond).
struct VariablePicture {
  std::vector<double> observed;
  std::vector<double> fitted;
  std::vector<double> edges;
  std::vector<double> counts;
};

struct ReportInput {
  nlohmann::json run;                     ///< the run record, as the run wrote it
  TextTable variables;                    ///< per variable: fit diagnostics and regression
  TextTable records;                      ///< per record: how well it is fitted
  ResultNumbers result;                   ///< the numbers of the result table
  std::vector<VariablePicture> pictures;  ///< per variable; empty when not known
  std::vector<std::string> units;         ///< per variable its unit, "" when not known; empty: none known
  /// Measured values, nvar x nrec (observed[v][s]), NaN where not measured; empty
  /// when not known. The total's row gives its observed series.
  std::vector<std::vector<double>> observed;
  // Shown at the end, each when the run made it.
  std::optional<TextTable> starts;             ///< every start: stop, chi2, correlations
  std::string starts_summary;                  ///< with starts: the stability line (one line of text)
  std::optional<TextTable> bootstrap;          ///< percentiles of each profile element
  std::optional<TextTable> bootstrap_mapping;  ///< per factor: replicates mapped to it
  std::optional<TextTable> displacement;       ///< interval of each free element per dQmax level
  std::optional<TextTable> displacement_summary;  ///< per level: swaps and largest chi2 decrease
  std::optional<TextTable> apportionment_intervals;  ///< shares with bootstrap and displacement intervals
  std::optional<TextTable> bs_displacement;  ///< interval over bootstrap replicates of each free element per level
  std::optional<TextTable> bs_displacement_summary;  ///< per level: swaps and largest chi2 decrease over replicates
};

// The apportionment of variable v as the run record holds it: the mean measured
// value and per factor its mean contribution (profile element times the factor's
// mean contribution) and percent, summed in the order the fit sums them. Needs
// in.observed.
nlohmann::json apportionment_record(const ReportInput& in, std::size_t v);

// Gives the factors new names everywhere the input holds them: the run record (its
// factors and apportionment), the headings of the variables and starts tables and
// the factor column of the bootstrap tables. `names` holds one name per factor.
void rename_factors(ReportInput* in, const std::vector<std::string>& names);
