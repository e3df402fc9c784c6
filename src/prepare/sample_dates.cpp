#include "prepare/sample_dates.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "control/failure.h"
#include "control/text_format.h"
#include "formats/name_check.h"

namespace {

// One field of a date: its digits (value and count) or a month's name.
struct Field {
  int value = 0;
  int digits = 0;    ///< 0 for a month's name
  bool name = false;
};

bool read_field(std::string_view id, std::size_t* i, Field* f) {
  static const char* const kMonths[] = {"january", "february", "march",     "april",   "may",      "june",
                                        "july",    "august",   "september", "october", "november", "december"};
  *f = Field();
  while (*i < id.size() && f->digits < 4 && id[*i] >= '0' && id[*i] <= '9') {
    f->value = f->value * 10 + (id[*i] - '0');
    ++*i;
    ++f->digits;
  }
  if (f->digits > 0) return *i == id.size() || id[*i] < '0' || id[*i] > '9';
  std::size_t end = *i;
  while (end < id.size() && ((id[end] >= 'a' && id[end] <= 'z') || (id[end] >= 'A' && id[end] <= 'Z'))) ++end;
  std::string word;
  for (std::size_t k = *i; k < end; ++k) word += static_cast<char>(id[k] >= 'A' && id[k] <= 'Z' ? id[k] - 'A' + 'a' : id[k]);
  for (int m = 0; m < 12; ++m) {
    const std::string_view full = kMonths[m];
    if (word == full || (word.size() == 3 && word == full.substr(0, 3))) {
      f->value = m + 1;
      f->name = true;
      *i = end;
      return true;
    }
  }
  return false;
}

int days_in_month(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// A time of day H:MM or H:MM:SS after a space or a T, or nothing, up to the end.
bool time_of_day(std::string_view text, std::size_t i) {
  if (i == text.size()) return true;
  if (text[i] != ' ' && text[i] != 'T') return false;
  ++i;
  Field hour, minute, second;
  if (!read_field(text, &i, &hour) || hour.digits == 0 || hour.digits > 2) return false;
  if (i == text.size() || text[i++] != ':') return false;
  if (!read_field(text, &i, &minute) || minute.digits == 0 || minute.digits > 2) return false;
  if (i < text.size() && text[i] == ':') {
    ++i;
    if (!read_field(text, &i, &second) || second.digits == 0 || second.digits > 2) return false;
  }
  return i == text.size() && hour.value <= 24 && minute.value <= 59 && second.value <= 60;
}

const char* order_name(DateOrder order) {
  return order == DateOrder::ymd ? "ymd" : order == DateOrder::dmy ? "dmy" : "mdy";
}

std::string iso(const SampleDate& d) { return format_text("%04d-%02d-%02d", d.year, d.month, d.day); }

}  // namespace

std::optional<SampleDate> read_sample_date(std::string_view id, DateOrder order) {
  std::size_t i = 0;
  SampleDate d;
  if (order == DateOrder::ymd && id.size() >= 8) {
    // Eight digits: 20010622.
    bool compact = id.size() == 8 || id[8] == ' ' || id[8] == 'T';
    for (std::size_t k = 0; k < 8 && compact; ++k) compact = id[k] >= '0' && id[k] <= '9';
    if (compact) {
      auto number = [&](std::size_t at, std::size_t n) {
        int v = 0;
        for (std::size_t k = at; k < at + n; ++k) v = v * 10 + (id[k] - '0');
        return v;
      };
      d.year = number(0, 4), d.month = number(4, 2), d.day = number(6, 2);
      i = 8;
    }
  }
  if (i == 0) {
    Field a, b, c;
    if (!read_field(id, &i, &a) || i == id.size()) return std::nullopt;
    const char separator = id[i++];
    if (separator != '/' && separator != '-' && separator != '.' && separator != ' ') return std::nullopt;
    if (!read_field(id, &i, &b) || i == id.size() || id[i++] != separator) return std::nullopt;
    if (!read_field(id, &i, &c)) return std::nullopt;
    const Field* year = &c;
    const Field* month = &b;
    const Field* day = &a;
    if (order == DateOrder::ymd) year = &a, day = &c;
    if (order == DateOrder::mdy) month = &a, day = &b;
    if (year->name || day->name || (month->digits > 2) || day->digits > 2) return std::nullopt;
    if (year->digits != 4 && !(year->digits == 2 && order != DateOrder::ymd)) return std::nullopt;
    d.year = year->digits == 2 ? (year->value < 69 ? 2000 : 1900) + year->value : year->value;
    d.month = month->value;
    d.day = day->value;
    // The report reads 2001-06-22, 6/22/2001 and 22.06.2001 (numbers, four-digit years).
    d.report_form = !month->name && year->digits == 4 &&
                    ((order == DateOrder::ymd && separator == '-') || (order == DateOrder::mdy && separator == '/') ||
                     (order == DateOrder::dmy && separator == '.'));
  }
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > days_in_month(d.year, d.month)) return std::nullopt;
  if (!time_of_day(id, i)) return std::nullopt;
  d.time_at = i;
  return d;
}

bool settle_sample_dates(MeasuredTable& values, const std::string& format) {
  const int n = values.nsamples();
  const std::array<DateOrder, 3> orders = {DateOrder::ymd, DateOrder::dmy, DateOrder::mdy};
  // Per order: how many identifiers read in it, and the first that does not.
  std::array<int, 3> read = {0, 0, 0};
  std::array<int, 3> first_unread = {-1, -1, -1};
  for (std::size_t k = 0; k < orders.size(); ++k) {
    if (!format.empty() && format != order_name(orders[k])) continue;
    for (int s = 0; s < n; ++s) {
      if (read_sample_date(values.id(s), orders[k])) {
        ++read[k];
      } else if (first_unread[k] < 0) {
        first_unread[k] = s;
      }
    }
  }
  const auto line = [&](int s) { return values.lines[static_cast<std::size_t>(s)]; };
  std::size_t chosen = orders.size();
  if (!format.empty()) {
    for (std::size_t k = 0; k < orders.size(); ++k) {
      if (format != order_name(orders[k])) continue;
      chosen = k;
      if (first_unread[k] >= 0) {
        fail("Error: %s line %ld: the sample identifier '%s' is not a date in the order %s (--date-format %s)!\n",
             values.path.c_str(), line(first_unread[k]), quote_cell(values.id(first_unread[k])).c_str(),
             format.c_str(), format.c_str());
      }
    }
  } else {
    const bool ymd = read[0] == n, dmy = read[1] == n, mdy = read[2] == n;
    if (dmy && mdy) {
      // Dots are written day-first only; elsewhere the first identifier whose two
      // readings differ shows the analyst what is at stake.
      int differs = -1;
      bool dots = true;
      for (int s = 0; s < n; ++s) {
        const SampleDate a = *read_sample_date(values.id(s), DateOrder::dmy);
        const SampleDate b = *read_sample_date(values.id(s), DateOrder::mdy);
        if (differs < 0 && a.month != b.month) differs = s;
        if (!a.report_form) dots = false;
      }
      if (differs >= 0 && !dots) {
        const std::string_view id = values.id(differs);
        fail("Error: %s line %ld: the sample identifier '%s' reads as the date %s day-first and as %s month-first, and "
             "every identifier reads both ways!\nGive --date-format dmy (day first) or --date-format mdy (month "
             "first).\n",
             values.path.c_str(), line(differs), quote_cell(id).c_str(),
             iso(*read_sample_date(id, DateOrder::dmy)).c_str(), iso(*read_sample_date(id, DateOrder::mdy)).c_str());
      }
      chosen = dots ? 1 : 2;
    } else if (ymd || dmy || mdy) {
      chosen = ymd ? 0 : dmy ? 1 : 2;
    } else {
      std::size_t best = 0;
      for (std::size_t k = 1; k < orders.size(); ++k) {
        if (read[k] > read[best]) best = k;
      }
      const int s = first_unread[best];
      warn("Warning: %s line %ld: the sample identifier '%s' is not a date in a known form (such as 2001-06-22, "
           "22/06/2001 or 22-Jun-2001); the report will show the samples in the order of their rows.\n",
           values.path.c_str(), line(s), quote_cell(values.id(s)).c_str());
      return false;
    }
  }
  bool report_reads = true;
  for (int s = 0; s < n && report_reads; ++s) report_reads = read_sample_date(values.id(s), orders[chosen])->report_form;
  if (report_reads) return false;
  std::string ids;
  std::vector<std::uint64_t> ends;
  for (int s = 0; s < n; ++s) {
    const std::string_view id = values.id(s);
    const SampleDate d = *read_sample_date(id, orders[chosen]);
    ids += iso(d);
    ids.append(id.substr(d.time_at));
    ends.push_back(ids.size());
  }
  warn("Note: %s: the sample identifiers are read as dates in the order %s and written as %s, the form the report "
       "reads.\n",
       values.path.c_str(), order_name(orders[chosen]), ids.substr(0, ends[0]).c_str());
  values.ids = std::move(ids);
  values.id_end = std::move(ends);
  return true;
}
