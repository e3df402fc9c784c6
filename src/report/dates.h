// Record identifiers read as dates, for the time axis and the monthly and weekday
// means of the report.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Days (with the time of day as a fraction) since 1970-01-01 of an identifier in
// one of the common forms 2001-06-22, 2001-06-22 13:00, 2001-06-22T13:00:00,
// 6/22/2001, 6/22/2001 0:00, 22.06.2001, 22.06.2001 13:00; nothing otherwise.
std::optional<double> parse_date(std::string_view id);

// The day number of a civil date, and back.
long days_from_civil(int year, int month, int day);
void civil_from_days(long days, int* year, int* month, int* day);

// 1 (January) to 12, and 0 (Monday) to 6 (Sunday), of a day number.
int month_of(double day);
int weekday_of(double day);

struct DateTick {
  double day = 0;
  std::string label;  ///< 2001, 2001-06 or 2001-06-22
};

// Ticks at whole years, months or days, about 4 to 10 of them over [lo, hi].
std::vector<DateTick> date_ticks(double lo, double hi);
