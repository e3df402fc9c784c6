// A buffered reader of one input file that offers the few scanning operations the
// readers are built from: skipping white space, taking or skipping a run of
// characters up to a stop character, and reading one number. Each operation does
// what the matching formatted-input directive would do ("%lf ", "%*[^\t]\t",
// "%19[^\t\n] " and so on), with three differences that make files from any
// spreadsheet read alike: CR LF and a lone CR are line ends, a UTF-8 byte-order
// mark at the start is skipped, and a NUL byte is an error.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class InputFile;

class Scanner {
 public:
  // Opens `path` for reading; fails naming the file as typed when it cannot be
  // opened or is not a regular file ("Error: Can't find %s!" when it is not
  // there, see not_open_message), and on the first read when it is UTF-16 text.
  explicit Scanner(const std::string& path);
  ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  const std::string& path() const { return path_; }

  // The next character, or -1 at the end of the file.
  int peek();
  bool at_end() { return peek() < 0; }
  // Consumes the next character and returns it, or -1 at the end of the file.
  int get();

  // Skips any run of white space, line ends and blank lines included.
  void skip_space();

  // Consumes the longest run of characters other than `stop1` and `stop2` and
  // returns its length (zero when the next character stops the run or at the end).
  std::size_t skip_until(char stop1, char stop2 = '\0');
  // As skip_until, but consumes at most `limit` characters ("%19[^\t\n]") and
  // appends them to *out when `out` is not null.
  std::size_t read_until(std::string* out, char stop1, char stop2 = '\0',
                         std::size_t limit = static_cast<std::size_t>(-1));

  // Number of non-blank lines from here to the end of the file, consuming them.
  long count_lines();

  // Reads one white-space-delimited cell as a number ("%lf") and skips the white
  // space after it. Fails, naming the file, line and cell, when the cell is not a
  // finite number (also after rounding to float when `stored_as_float`) or the
  // file has ended.
  double read_double(bool stored_as_float = false);
  // As read_double, but skips only the blanks (spaces and tabs) after the number,
  // so that the read stays on its line; see at_line_end.
  double read_double_on_line(bool stored_as_float = false);
  // Skips spaces and tabs, not line ends.
  void skip_blanks();
  // True at a line end or at the end of the file.
  bool at_line_end() {
    const int c = peek();
    return c < 0 || c == '\n';
  }
  // Reads one white-space-delimited cell as a decimal integer ("%d") and skips
  // the white space after it.
  int read_int();

  // 1-based number of the line that holds the next character.
  long line();

 private:
  bool refill();                 // reads more bytes; false at the end of the file
  std::string_view next_cell();  // the cell at the read position, made contiguous
  double take_double(bool stored_as_float);  // read_double without the white space after it
  [[noreturn]] void fail_cell(const char* what, std::string_view cell);
  [[noreturn]] void fail_end();

  std::string path_;
  std::unique_ptr<InputFile> file_;
  std::size_t chunk_ = 0;         // bytes to read at a time
  std::vector<char> buf_;
  std::size_t pos_ = 0;           // next unread byte
  std::size_t end_ = 0;           // end of the valid bytes
  bool eof_ = false;              // the file has no more bytes to read
  bool first_read_ = true;        // the byte-order mark check is still to do
  bool held_cr_ = false;          // a CR ended the last read and awaits its LF
  long lines_before_ = 0;         // line ends in bytes already discarded
};

// Line `number` of the file at `path`, as it stands (the line ends made LF).
std::string line_of(const std::string& path, long number);

// The column (counted from 1, cells cut at tabs) of the first cell of `line` that
// is empty or blank, or 0 when none is.
long first_empty_column(std::string_view line);
