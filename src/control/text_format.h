// Text made by printf-style formatting into a string as long as the text needs:
// the one formatting of messages and console lines, with no fixed buffer to cut them.
#pragma once

#include <cstdarg>
#include <string>

#include "control/failure.h"

// The printf-style formatted text, whole however long it is; "" on an encoding error.
std::string format_text(const char* format, ...) __attribute__((format(TARNOK_PRINTF, 1, 2)));

// The same for an argument list that the caller has started and ends itself.
std::string vformat_text(const char* format, va_list args) __attribute__((format(TARNOK_PRINTF, 1, 0)));
