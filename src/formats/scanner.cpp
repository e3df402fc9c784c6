#include "formats/scanner.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "control/failure.h"
#include "platform/input_file.h"

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr std::size_t kSmallChunk = 1 << 16;

// White space as the formatted-input routines see it in the C locale.
constexpr bool is_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Number of line ends in [first, last), a memchr per line.
long count_newlines(const char* first, const char* last) {
  long count = 0;
  while (first < last) {
    const void* nl = std::memchr(first, '\n', static_cast<std::size_t>(last - first));
    if (nl == nullptr) break;
    ++count;
    first = static_cast<const char*>(nl) + 1;
  }
  return count;
}

}  // namespace

Scanner::Scanner(const std::string& path) : path_(path), file_(std::make_unique<InputFile>(path)) {
  // Every input is read more than once, so only a regular file will do.
  if (!file_->ok()) fail("%s", not_open_message(path, *file_).c_str());
  // A small file gets a small buffer: the tables are read five times per run, and
  // a megabyte cleared for a file of a few hundred bytes is most of the work.
  const auto size = static_cast<std::size_t>(file_->size());
  chunk_ = size > 0 && size < kChunk ? std::max(size + 1, kSmallChunk) : kChunk;
  buf_.resize(chunk_);
}

Scanner::~Scanner() = default;

long Scanner::line() {
  return lines_before_ + count_newlines(buf_.data(), buf_.data() + pos_) + 1;
}

bool Scanner::refill() {
  if (eof_) return false;
  // Keep the unread bytes, count the line ends of the discarded ones.
  lines_before_ += count_newlines(buf_.data(), buf_.data() + pos_);
  std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
  end_ -= pos_;
  pos_ = 0;
  if (buf_.size() - end_ < chunk_ / 2) buf_.resize(std::max(buf_.size() * 2, end_ + chunk_));

  std::size_t start = end_;
  if (held_cr_) buf_[end_++] = '\r';
  held_cr_ = false;
  std::size_t got_from = end_;
  const long long n = file_->read(buf_.data() + end_, buf_.size() - end_);
  if (n < 0) fail("Error: Can't read %s!\n", path_.c_str());
  if (n == 0) eof_ = true;
  end_ += static_cast<std::size_t>(n);
  if (got_from == end_ && start == end_) return false;

  char* base = buf_.data();
  if (first_read_) {
    first_read_ = false;
    refuse_utf16(path_, std::string_view(base + start, end_ - start));
    if (end_ - start >= 3 && std::memcmp(base + start, "\xEF\xBB\xBF", 3) == 0) start += 3, pos_ = start;
  }
  // CR LF becomes LF and a lone CR becomes LF; a CR at the end of the bytes read
  // waits for the next read to see whether an LF follows.
  if (std::memchr(base + start, '\r', end_ - start) != nullptr) {
    std::size_t out = start;
    for (std::size_t in = start; in < end_; ++in) {
      char c = base[in];
      if (c == '\r') {
        if (in + 1 < end_) {
          if (base[in + 1] == '\n') continue;
          c = '\n';
        } else if (!eof_) {
          held_cr_ = true;
          continue;
        } else {
          c = '\n';
        }
      }
      base[out++] = c;
    }
    end_ = out;
  }
  // Checked once the line ends are in place, so that the line named is right for
  // files with lone CR line ends too.
  if (const void* nul = std::memchr(base + start, '\0', end_ - start)) {
    std::size_t at = static_cast<std::size_t>(static_cast<const char*>(nul) - base);
    long line_no = lines_before_ + static_cast<long>(std::count(base, base + at, '\n')) + 1;
    fail("Error: %s line %ld: NUL byte in the file!\n", path_.c_str(), line_no);
  }
  return pos_ < end_ || !eof_;
}

int Scanner::peek() {
  while (pos_ >= end_) {
    if (!refill() && pos_ >= end_) return -1;
  }
  return static_cast<unsigned char>(buf_[pos_]);
}

int Scanner::get() {
  int c = peek();
  if (c >= 0) ++pos_;
  return c;
}

void Scanner::skip_space() {
  for (;;) {
    while (pos_ < end_ && is_space(static_cast<unsigned char>(buf_[pos_]))) ++pos_;
    if (pos_ < end_ || peek() < 0) return;
  }
}

std::size_t Scanner::skip_until(char stop1, char stop2) {
  return read_until(nullptr, stop1, stop2);
}

std::size_t Scanner::read_until(std::string* out, char stop1, char stop2, std::size_t limit) {
  std::size_t taken = 0;
  while (taken < limit) {
    if (pos_ >= end_ && peek() < 0) return taken;
    const char* begin = buf_.data() + pos_;
    const char* stop = begin + std::min(end_ - pos_, limit - taken);
    const char* p = begin;
    if (stop2 == '\0') {
      const void* hit = std::memchr(begin, stop1, static_cast<std::size_t>(stop - begin));
      p = hit ? static_cast<const char*>(hit) : stop;
    } else {
      while (p < stop && *p != stop1 && *p != stop2) ++p;
    }
    std::size_t n = static_cast<std::size_t>(p - begin);
    if (out != nullptr) out->append(begin, n);
    taken += n;
    pos_ += n;
    if (p < stop) return taken;  // met a stop character
  }
  return taken;
}

long Scanner::count_lines() {
  long count = 0;
  bool content = false;  // the current line has a character that is not white space
  while (peek() >= 0) {
    const char* p = buf_.data() + pos_;
    const char* stop = buf_.data() + end_;
    while (p < stop) {
      if (!content) {
        if (*p == '\n' || is_space(static_cast<unsigned char>(*p))) {
          ++p;
          continue;
        }
        content = true;
      }
      const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(stop - p));
      if (nl == nullptr) {
        p = stop;
        break;
      }
      p = static_cast<const char*>(nl) + 1;
      ++count;
      content = false;
    }
    pos_ = end_;
  }
  return count + (content ? 1 : 0);
}

std::string_view Scanner::next_cell() {
  skip_space();
  for (;;) {
    const char* begin = buf_.data() + pos_;
    const char* stop = buf_.data() + end_;
    const char* p = begin;
    while (p < stop && !is_space(static_cast<unsigned char>(*p))) ++p;
    if (p < stop || eof_) return std::string_view(begin, static_cast<std::size_t>(p - begin));
    refill();  // the cell runs past the buffered bytes: read on until it ends
  }
}

void Scanner::fail_cell(const char* what, std::string_view cell) {
  long line_no = line();
  fail("Error: %s line %ld: '%s' is %s!\n", path_.c_str(), line_no, quote_cell(cell).c_str(), what);
}

void Scanner::fail_end() {
  fail("Error: %s line %ld: the file ends before all numbers are read!\n", path_.c_str(), line());
}

double Scanner::read_double(bool stored_as_float) {
  const double value = take_double(stored_as_float);
  skip_space();
  return value;
}

double Scanner::read_double_on_line(bool stored_as_float) {
  const double value = take_double(stored_as_float);
  skip_blanks();
  return value;
}

void Scanner::skip_blanks() {
  for (;;) {
    while (pos_ < end_ && (buf_[pos_] == ' ' || buf_[pos_] == '\t' || buf_[pos_] == '\v' || buf_[pos_] == '\f')) ++pos_;
    if (pos_ < end_ || peek() < 0) return;
  }
}

double Scanner::take_double(bool stored_as_float) {
  // The common case first: the number and the white space after it are in the
  // buffer, and the number is finite. Anything else takes the general path below,
  // which reads the same numbers and reports every error.
  if (pos_ < end_ && !is_space(static_cast<unsigned char>(buf_[pos_]))) {
    const char* first = buf_.data() + pos_;
    const char* last = buf_.data() + end_;
    const char* digits = first;
    if (*digits == '+' && digits + 1 < last && digits[1] != '-') ++digits;
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(digits, last, value, std::chars_format::general);
    if (ec == std::errc() && ptr < last && is_space(static_cast<unsigned char>(*ptr)) && std::isfinite(value) &&
        (!stored_as_float || std::isfinite(static_cast<float>(value)))) {
      pos_ = static_cast<std::size_t>(ptr - buf_.data());
      return value;
    }
  }
  std::string_view cell = next_cell();
  if (cell.empty()) fail_end();
  const char* first = cell.data();
  const char* last = first + cell.size();
  const char* digits = first;
  if (*digits == '+' && digits + 1 < last && digits[1] != '-') ++digits;
  double value = 0.0;
  auto [ptr, ec] = std::from_chars(digits, last, value, std::chars_format::general);
  if (ec != std::errc() || ptr != last) {
    // Hexadecimal numbers and values beyond the double range take the C library's route.
    std::string copy(cell);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size()) fail_cell("not a number", cell);
  }
  if (!std::isfinite(value) || (stored_as_float && !std::isfinite(static_cast<float>(value)))) {
    fail_cell("not a finite number", cell);
  }
  pos_ += cell.size();
  return value;
}

int Scanner::read_int() {
  std::string_view cell = next_cell();
  if (cell.empty()) fail_end();
  const char* first = cell.data();
  const char* last = first + cell.size();
  if (*first == '+' && first + 1 < last && first[1] != '-') ++first;
  int value = 0;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last) fail_cell("not an integer", cell);
  pos_ += cell.size();
  skip_space();
  return value;
}

std::string line_of(const std::string& path, long number) {
  Scanner in(path);
  for (long k = 1; k < number && !in.at_end(); ++k) {
    in.skip_until('\n');
    in.get();
  }
  std::string line;
  in.read_until(&line, '\n');
  return line;
}

long first_empty_column(std::string_view line) {
  long column = 1;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    const std::size_t end = tab == std::string_view::npos ? line.size() : tab;
    if (line.find_first_not_of(" \v\f", start) >= end) return column;
    if (tab == std::string_view::npos) return 0;
    start = tab + 1;
    ++column;
  }
}
