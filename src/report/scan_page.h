// The page of a factor-number scan (scan.html): the table of scan.tsv and one
// chart per column against the number of factors, with the numbers of K whose
// best solution few starts reach drawn apart. Made from a typed input in memory.
#pragma once

#include <string>
#include <vector>

#include "control/text_table.h"

struct ScanPageInput {
  std::string title;               ///< what was scanned, e.g. the prepared folder
  TextTable table;                 ///< the table of scan.tsv, as written
  std::vector<double> factors;     ///< K of each row
  // One series per chart, a value per row (NaN: none).
  std::vector<double> chi2_over_qexp, drop_percent, starts_at_best, smallest_share, species_above_2, seconds;
  std::vector<bool> reproduced;    ///< per row: the best solution reached by several starts
  int several = 3;                 ///< how many starts count as several
};

// The whole HTML page, charts inline.
std::string scan_page(const ScanPageInput& in);
