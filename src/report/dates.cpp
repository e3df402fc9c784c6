#include "report/dates.h"

#include <cmath>
#include <cstdio>

namespace {

// Reads 1 to max_digits digits at text[*i]; false when there is none.
bool digits(std::string_view text, std::size_t* i, int max_digits, int* value) {
  int n = 0;
  *value = 0;
  while (*i < text.size() && n < max_digits && text[*i] >= '0' && text[*i] <= '9') {
    *value = *value * 10 + (text[*i] - '0');
    ++*i;
    ++n;
  }
  return n > 0;
}

bool take(std::string_view text, std::size_t* i, char c) {
  if (*i < text.size() && text[*i] == c) {
    ++*i;
    return true;
  }
  return false;
}

int days_in_month(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// An optional time of day H:MM or H:MM:SS after a space or T; the fraction of a day.
bool time_of_day(std::string_view text, std::size_t* i, double* fraction) {
  *fraction = 0;
  if (*i == text.size()) return true;
  if (!take(text, i, ' ') && !take(text, i, 'T')) return false;
  int hour = 0, minute = 0, second = 0;
  if (!digits(text, i, 2, &hour) || !take(text, i, ':') || !digits(text, i, 2, &minute)) return false;
  if (take(text, i, ':') && !digits(text, i, 2, &second)) return false;
  if (*i != text.size() || hour > 24 || minute > 59 || second > 60) return false;
  *fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return true;
}

}  // namespace

long days_from_civil(int year, int month, int day) {
  // Howard Hinnant's days_from_civil.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int mp = (month + 9) % 12;
  const int doy = (153 * mp + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<long>(era) * 146097 + doe - 719468;
}

void civil_from_days(long days, int* year, int* month, int* day) {
  const long z = days + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

std::optional<double> parse_date(std::string_view id) {
  std::size_t i = 0;
  int a = 0, b = 0, c = 0;
  int year = 0, month = 0, day = 0;
  if (!digits(id, &i, 4, &a)) return std::nullopt;
  const std::size_t first_width = i;
  if (first_width == 4 && take(id, &i, '-')) {
    if (!digits(id, &i, 2, &b) || !take(id, &i, '-') || !digits(id, &i, 2, &c)) return std::nullopt;
    year = a, month = b, day = c;
  } else if (first_width <= 2 && take(id, &i, '/')) {
    if (!digits(id, &i, 2, &b) || !take(id, &i, '/') || !digits(id, &i, 4, &c) || c < 1000) return std::nullopt;
    year = c, month = a, day = b;
  } else if (first_width <= 2 && take(id, &i, '.')) {
    if (!digits(id, &i, 2, &b) || !take(id, &i, '.') || !digits(id, &i, 4, &c) || c < 1000) return std::nullopt;
    year = c, month = b, day = a;
  } else {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) return std::nullopt;
  double fraction = 0;
  if (!time_of_day(id, &i, &fraction)) return std::nullopt;
  return static_cast<double>(days_from_civil(year, month, day)) + fraction;
}

int month_of(double day) {
  int y = 0, m = 0, d = 0;
  civil_from_days(static_cast<long>(std::floor(day)), &y, &m, &d);
  return m;
}

int weekday_of(double day) {
  const long n = static_cast<long>(std::floor(day));
  // 1970-01-01 was a Thursday (3 counting Monday as 0).
  return static_cast<int>(((n % 7) + 7 + 3) % 7);
}

std::vector<DateTick> date_ticks(double lo, double hi) {
  std::vector<DateTick> ticks;
  if (!std::isfinite(lo) || !std::isfinite(hi) || hi <= lo) return ticks;
  char label[32];
  const double span = hi - lo;
  int y0 = 0, m0 = 0, d0 = 0;
  civil_from_days(static_cast<long>(std::floor(lo)), &y0, &m0, &d0);
  if (span > 3 * 365.0) {
    const int step = span > 40 * 365.0 ? 10 : span > 16 * 365.0 ? 5 : span > 8 * 365.0 ? 2 : 1;
    for (int y = (y0 / step) * step; y < 10000; y += step) {
      const auto d = static_cast<double>(days_from_civil(y, 1, 1));
      if (d > hi) break;
      if (d < lo) continue;
      std::snprintf(label, sizeof label, "%d", y);
      ticks.push_back({d, label});
    }
  } else if (span > 60) {
    const int step = span > 2 * 365.0 ? 6 : span > 365.0 ? 3 : span > 180 ? 2 : 1;
    int y = y0;
    int m = 1 + ((m0 - 1) / step) * step;
    for (;;) {
      const auto d = static_cast<double>(days_from_civil(y, m, 1));
      if (d > hi) break;
      if (d >= lo) {
        std::snprintf(label, sizeof label, "%04d-%02d", y, m);
        ticks.push_back({d, label});
      }
      m += step;
      if (m > 12) m -= 12, ++y;
    }
  } else {
    const double step = span > 28 ? 7 : span > 10 ? 2 : 1;
    for (double d = std::ceil(lo); d <= hi; d += step) {
      int y = 0, m = 0, dd = 0;
      civil_from_days(static_cast<long>(d), &y, &m, &dd);
      std::snprintf(label, sizeof label, "%04d-%02d-%02d", y, m, dd);
      ticks.push_back({d, label});
    }
  }
  return ticks;
}
