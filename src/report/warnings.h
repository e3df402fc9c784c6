// What the analyst must notice before reading the rest of the report: each finding
// one sentence with the section that shows it. The thresholds are stated on the
// page beside the findings.
#pragma once

#include <string>
#include <vector>

#include "report/report_input.h"

// A result taken before this share of the passes is far from the end of the fit.
constexpr double kEarlyResultShare = 0.9;
// A robust fit that down-weights more than this share of the values.
constexpr double kDownWeightedShare = 0.05;
// Starts whose final chi2 lies more than this share above the lowest reached
// another minimum.
constexpr double kStartsChi2Spread = 0.01;
// A record whose chi2 exceeds this many times the median record's.
constexpr double kOutlyingRecord = 10.0;

struct Warning {
  std::string text;     ///< one sentence, plain text
  std::string section;  ///< id of the section that shows it
};

// The findings of a run, in the order of the page's sections: not converged,
// interrupted or diverged; the result taken far before the last pass; many values
// down-weighted; starts that ended at different minima; factors the bootstrap
// replicates did not reproduce; displaced fits below the fit's chi2 and factor
// swaps, of the displacement and of the displacement within bootstrap replicates;
// poorly fitted species; outlying records.
std::vector<Warning> report_warnings(const ReportInput& in);

// A displaced fit whose chi2 falls below its base by more than this share of the
// smallest dQmax level marks a decrease (the displacement's own tolerance).
constexpr double kDecreaseShare = 0.01;

// The conditions checked, with their thresholds, as one sentence for the page.
std::string warning_conditions();
// The same, and with a displacement in the run record the conditions of its findings.
std::string warning_conditions(const ReportInput& in);
