// What the report draws: the run record and the diagnostic tables, read back from
// the report folder, and what the run hands over from memory: the numbers of the
// result table (which may have gone to a device such as /dev/null) and the observed
// and fitted values behind each variable's pictures.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

#include "report/text_table.h"

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
  nlohmann::json run;                  ///< run.json
  TextTable variables;                 ///< variables.tsv
  TextTable records;                   ///< records.tsv
  ResultNumbers result;                ///< the numbers of the result table
  std::vector<VariablePicture> pictures;  ///< per variable; empty when not known
  /// Further tables found in the folder (file name, table), shown at the end.
  std::vector<std::pair<std::string, TextTable>> extra_tables;
};


// Reads a tab-separated file; throws std::runtime_error when it cannot be read.
TextTable read_table(const std::string& path);

// Reads run.json, variables.tsv and records.tsv of folder `dir`, and the further
// tables `extra` (file names in dir) that this run wrote there: a table an earlier
// run left in the folder is never shown. Throws std::runtime_error naming what failed.
ReportInput load_report_input(const std::string& dir, const std::vector<std::string>& extra = {});
