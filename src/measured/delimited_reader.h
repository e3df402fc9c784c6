// Reading a delimited text table as a spreadsheet exports it: comma, semicolon or
// tab separated, cells in double quotes (which may hold the delimiter, doubled
// quotes and line ends), LF, CR LF or lone CR line ends and a UTF-8 byte-order
// mark. The file is read in large blocks, one row at a time, so a table of any
// size passes through a fixed amount of memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/input_file.h"

// One row of a table: its cells (quotes removed) and the line it starts on.
struct DelimitedRow {
  std::vector<std::string_view> cells;  ///< valid until the next row is read
  long line = 0;                        ///< 1-based line number where the row starts
  bool blank() const;                   ///< every cell is empty or white space
};

class DelimitedReader {
 public:
  // Opens `path` (as typed) for reading; fails when it cannot be opened or is not a
  // regular file (see not_open_message), and on the first read when it is UTF-16
  // text. `delimiter` '\0' detects it from the
  // first row: a tab if that row holds one, otherwise the more frequent of
  // semicolon and comma outside quotes (comma when there is neither).
  DelimitedReader(const std::string& path, char delimiter);
  ~DelimitedReader();
  DelimitedReader(const DelimitedReader&) = delete;
  DelimitedReader& operator=(const DelimitedReader&) = delete;

  // Reads the next row into *row; false at the end of the file. Fails, naming the
  // file and line, on a NUL byte or a quote left open at the end of the file.
  bool next(DelimitedRow* row);

  char delimiter() const { return delimiter_; }
  const std::string& path() const { return path_; }

 private:
  bool next_line(std::string_view* line);  // one physical line without its line end
  bool refill();
  void detect_delimiter();

  std::string path_;
  char delimiter_;
  std::unique_ptr<InputFile> file_;  // the open file (a regular file only)
  std::vector<char> buf_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool first_ = true;
  long line_ = 0;            // lines consumed so far
  std::string joined_;       // a row whose quoted cell spans lines
  std::string unquoted_;     // quoted cells with their quotes removed
  std::vector<std::size_t> spans_;  // begin/end offsets of cells in unquoted_
};
