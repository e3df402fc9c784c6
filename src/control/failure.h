// The one way out of a failed run: the message is built where the failure is found,
// thrown as a Failure, and printed by main, which then ends the run with status 1.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

// The formats follow the C standard on every system (on Windows the program is
// built with the C99-conforming printf family, which knows %zu and %lld).
#ifdef __MINGW32__
#define TARNOK_PRINTF gnu_printf
#else
#define TARNOK_PRINTF printf
#endif

// Throws a Failure whose message is the printf-style formatted text.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(TARNOK_PRINTF, 1, 2)));

// Cuts a text for quoting in a message so that a huge cell does not flood the console.
std::string quote_cell(std::string_view cell);

// Fails, naming the file, when its first bytes are UTF-16 text (a UTF-16
// byte-order mark, or a NUL byte beside a character in the first two bytes):
// such a file holds a NUL byte in every character and must be saved as UTF-8.
void refuse_utf16(const std::string& path, std::string_view first_bytes);
