// Sample identifiers read as dates: the order of day, month and year is found
// from the whole column (or named with --date-format), and identifiers the report
// would not read as the same dates are written in the form 2001-06-22.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "measured/measured_table.h"

enum class DateOrder { ymd, dmy, mdy };

struct SampleDate {
  int year = 0;
  int month = 0;
  int day = 0;
  std::size_t time_at = 0;  ///< where the time of day (" 13:00", "T13:00:00") begins; the length when none
  bool report_form = false; ///< the report reads the identifier as this same date as it stands
};

// The date of an identifier in the given order: the numbers separated by '/', '-',
// '.' or ' ' (the same one twice), the month also as an English name or its first
// three letters (22-Jun-2001), a year of two digits read as 1969 to 2068, and in
// the order ymd also eight digits (20010622); then optionally a time of day H:MM
// or H:MM:SS after a space or a T. Nothing when the identifier is not such a date.
std::optional<SampleDate> read_sample_date(std::string_view id, DateOrder order);

// Settles the identifiers of `values` as dates. `format` is "ymd", "dmy" or "mdy"
// (every identifier must then read in that order), or empty: the order is the
// one in which every identifier reads; a column that reads both day-first and
// month-first fails naming both readings of an identifier, and a column that
// reads in no order is left as it is with a warning that the report will show
// the records in their order. When the report would read some identifier
// differently, every identifier is written as 2001-06-22 (its time kept), with a
// note on standard error. True when the identifiers were written anew.
bool settle_sample_dates(MeasuredTable& values, const std::string& format);
