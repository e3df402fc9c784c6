// The report: one self-contained XHTML-compatible page (inline CSS and SVG, no
// script, nothing loaded from elsewhere) and each chart as its own SVG file.
#pragma once

#include <string>
#include <vector>

#include "report/report_input.h"

struct Figure {
  std::string name;  ///< file name in the figures folder, e.g. profile_01.svg
  std::string svg;
};

struct ReportPages {
  std::string html;
  std::vector<Figure> figures;
};

// A variable counts as poorly fitted when its chi2/ny exceeds kPoorChi2PerNy, when
// more than kPoorShare of its scaled residuals lie beyond +-3, or when the R2 of
// fitted against observed values is below kPoorR2.
constexpr double kPoorChi2PerNy = 2.0;
constexpr double kPoorShare = 0.05;
constexpr double kPoorR2 = 0.5;

ReportPages make_report(const ReportInput& in);
