// The calendar time in UTC, as each system offers it thread-safely.
#pragma once

#include <ctime>

// `when` broken down in UTC.
std::tm utc_calendar(std::time_t when);
