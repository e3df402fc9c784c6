// The report: one self-contained XHTML-compatible page (inline CSS and SVG, no
// script, nothing loaded from elsewhere) and each chart as its own SVG file, made
// from the input handed over in memory; and the names of the figures it may draw.
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

// The page and its figures, from the input alone.
ReportPages make_report(const ReportInput& in);

// What decides which figures the report draws, known before the fit.
struct ReportShape {
  int nfakt = 0;               ///< factors
  int nvar = 0;                ///< variables
  bool apportionment = false;  ///< a variable is apportioned among the factors
  bool bootstrap = false;      ///< the run has a bootstrap table
};

// The file name of every figure make_report may draw for a run of this shape, in
// the order it draws them: the convergence charts even when no pass prints a
// statistics line, and a bootstrap chart per factor (adjacent factors of one name
// share a chart, so the last numbers may go unused).
std::vector<std::string> figure_names(const ReportShape& shape);
