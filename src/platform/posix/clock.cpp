#include "platform/clock.h"

std::tm utc_calendar(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  return utc;
}
