#include "measured/delimited_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "control/failure.h"

namespace {

constexpr std::size_t kBlock = 1 << 20;

bool is_space(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool DelimitedRow::blank() const {
  for (std::string_view cell : cells) {
    for (char c : cell) {
      if (!is_space(c)) return false;
    }
  }
  return true;
}

DelimitedReader::DelimitedReader(const std::string& path, char delimiter) : path_(path), delimiter_(delimiter) {
  file_ = std::make_unique<InputFile>(path);
  if (!file_->ok()) fail("%s", not_open_message(path, *file_).c_str());
  // Blocks of 1 MB, or less for a small file.
  const auto size = static_cast<std::size_t>(file_->size());
  buf_.resize(std::clamp<std::size_t>(size + 1, 4096, kBlock));
}

DelimitedReader::~DelimitedReader() = default;

// Moves the unread bytes to the front (growing the buffer when a line fills it)
// and reads more; false when the file has no more bytes.
bool DelimitedReader::refill() {
  if (eof_) return false;
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
  const long long got = file_->read(buf_.data() + end_, buf_.size() - end_);
  if (got < 0) fail("Error: Can't read %s!\n", path_.c_str());
  if (got == 0) {
    eof_ = true;
    return false;
  }
  end_ += static_cast<std::size_t>(got);
  return true;
}

bool DelimitedReader::next_line(std::string_view* line) {
  if (first_) {
    while (end_ < 3 && refill()) {
    }
    refuse_utf16(path_, std::string_view(buf_.data(), end_));
    if (end_ >= 3 && std::memcmp(buf_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
    first_ = false;
  }
  std::size_t scanned = pos_;
  for (;;) {
    const char* begin = buf_.data() + pos_;
    const char* stop = buf_.data() + end_;
    for (const char* c = buf_.data() + scanned; c < stop; ++c) {
      if (*c == '\n' || *c == '\r') {
        // A CR at the end of the block may be the first half of CR LF.
        if (*c == '\r' && c + 1 == stop && !eof_) break;
        const std::size_t length = static_cast<std::size_t>(c - begin);
        std::size_t after = pos_ + length + 1;
        if (*c == '\r' && c + 1 < stop && c[1] == '\n') ++after;
        *line = std::string_view(begin, length);
        pos_ = after;
        ++line_;
        return true;
      }
      if (*c == '\0') fail("Error: %s line %ld: the file holds a NUL byte!\n", path_.c_str(), line_ + 1);
    }
    scanned = end_ - pos_;
    if (scanned > 0 && buf_[end_ - 1] == '\r') --scanned;
    if (!refill()) {
      if (pos_ == end_) return false;
      std::size_t length = end_ - pos_;
      if (buf_[end_ - 1] == '\r') --length;  // a lone CR ends the last line
      *line = std::string_view(buf_.data() + pos_, length);
      pos_ = end_;
      ++line_;
      return true;
    }
    scanned += pos_;
  }
}

void DelimitedReader::detect_delimiter() {
  // Called with the first line in joined_.
  std::size_t commas = 0, semicolons = 0;
  bool quoted = false;
  for (char c : joined_) {
    if (c == '\t' && !quoted) {
      delimiter_ = '\t';
      return;
    }
    if (c == '"') quoted = !quoted;
    if (!quoted && c == ',') ++commas;
    if (!quoted && c == ';') ++semicolons;
  }
  delimiter_ = semicolons > commas ? ';' : ',';
}

bool DelimitedReader::next(DelimitedRow* row) {
  std::string_view line;
  if (!next_line(&line)) return false;
  row->line = line_;
  row->cells.clear();
  if (delimiter_ == '\0') {
    joined_.assign(line);
    detect_delimiter();
  }
  if (line.find('"') == std::string_view::npos) {
    std::size_t start = 0;
    for (;;) {
      std::size_t cut = line.find(delimiter_, start);
      row->cells.push_back(line.substr(start, cut == std::string_view::npos ? std::string_view::npos : cut - start));
      if (cut == std::string_view::npos) return true;
      start = cut + 1;
    }
  }

  // Quoted cells: a cell whose first character other than spaces is a quote runs
  // to the matching quote; a doubled quote inside stands for one quote, and a line
  // end inside belongs to the cell (the next line is joined on). A quote elsewhere
  // is an ordinary character. One scan, resumed after each joined line.
  enum class State { start, plain, quoted, after_quote };
  State state = State::start;
  joined_.assign(line);
  unquoted_.clear();
  spans_.assign(1, 0);
  std::size_t k = 0;
  for (;;) {
    const std::size_t n = joined_.size();
    for (; k < n; ++k) {
      const char c = joined_[k];
      if (state == State::quoted) {
        if (c != '"') {
          unquoted_ += c;
        } else if (k + 1 < n && joined_[k + 1] == '"') {
          unquoted_ += '"';
          ++k;
        } else {
          state = State::after_quote;
        }
      } else if (c == delimiter_) {
        spans_.push_back(unquoted_.size());
        spans_.push_back(unquoted_.size());
        state = State::start;
      } else if (state == State::start && c == '"') {
        unquoted_.resize(spans_.back());  // spaces before the quote are not part of the cell
        state = State::quoted;
      } else {
        if (state == State::start && !is_space(c)) state = State::plain;
        unquoted_ += c;
      }
    }
    if (state != State::quoted) break;
    std::string_view more;
    if (!next_line(&more)) {
      fail("Error: %s line %ld: a quoted cell is not closed before the end of the file!\n", path_.c_str(),
           row->line);
    }
    joined_ += '\n';
    joined_.append(more);
  }
  spans_.push_back(unquoted_.size());
  for (std::size_t span = 0; span + 1 < spans_.size(); span += 2) {
    row->cells.push_back(std::string_view(unquoted_).substr(spans_[span], spans_[span + 1] - spans_[span]));
  }
  return true;
}
