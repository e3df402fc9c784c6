// The charts of the report, each from plain numbers to one SVG element.
#pragma once

#include <string>
#include <vector>

// The time axis of the records: days since 1970 when every identifier is a date,
// otherwise the record number (1, 2, ...). order lists the records by time.
struct TimeAxis {
  bool dates = false;
  std::vector<double> at;      ///< per record
  std::vector<std::size_t> order;
};
TimeAxis time_axis(const std::vector<std::string>& ids);

// chi2/ny (or any positive series) per pass from pass first + 1 on (values[first]
// onwards), logarithmic when it spans a wide range.
std::string pass_chart(const std::string& title, const std::vector<double>& values, const std::string& label,
                       std::size_t first = 0);

// Bars of one value per variable; `log` puts them on a logarithmic axis (values not
// above 0 are left out). `colour` is a factor colour.
std::string variable_bars(const std::string& title, const std::vector<std::string>& variables,
                          const std::vector<double>& values, bool log, const char* colour, const std::string& label,
                          double fixed_max = 0.0);

// Each variable's total split among the factors, in percent.
std::string fingerprint_chart(const std::vector<std::string>& variables, const std::vector<std::string>& factors,
                              const std::vector<std::vector<double>>& percent_by_factor);

// A series over the records' time axis, thinned per pixel column for the picture.
std::string time_chart(const std::string& title, const TimeAxis& time, const std::vector<double>& values,
                       const char* colour, const std::string& label);

// Observed and predicted values of one variable over the records' time axis.
std::string observed_predicted_chart(const std::string& title, const TimeAxis& time, const std::vector<double>& observed,
                                     const std::vector<double>& predicted, const std::string& label);

// Each factor's part of one variable over time, stacked (parts[f][record]); a long
// series is drawn as the mean of each pixel column.
std::string stacked_time_chart(const std::string& title, const TimeAxis& time, const std::vector<std::string>& factors,
                               const std::vector<std::vector<double>>& parts, const std::string& label);

// Contributions of factor g against factor f.
std::string pair_chart(const std::string& fname, const std::string& gname, const std::vector<double>& xf,
                       const std::vector<double>& xg);

// Fitted against observed with the 1:1 line and R^2; `unit` may be "".
std::string fit_chart(const std::string& variable, const std::vector<double>& observed,
                      const std::vector<double>& fitted, const std::string& r2, const std::string& unit);

// Counts of scaled residuals between edges (the outer bins drawn at the edges).
std::string residual_chart(const std::string& variable, const std::vector<double>& edges,
                           const std::vector<double>& counts);

// Mean contribution of each factor to one variable.
std::string apportionment_chart(const std::string& variable, const std::vector<std::string>& factors,
                                const std::vector<double>& means, const std::string& label);
