#include "measured/delimited_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    fail("Error: Can't find %s!", path.c_str());
  }
  buf_.resize(kBlock);
}

DelimitedReader::~DelimitedReader() {
  if (fd_ >= 0) ::close(fd_);
}

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
  for (;;) {
    ssize_t got = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail("Error: Can't read %s (%s)!\n", path_.c_str(), std::strerror(errno));
    if (got == 0) {
      eof_ = true;
      return false;
    }
    end_ += static_cast<std::size_t>(got);
    return true;
  }
}

bool DelimitedReader::next_line(std::string_view* line) {
  if (first_) {
    while (end_ < 3 && refill()) {
    }
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

  // Quoted cells: a cell that starts with a quote runs to the matching quote; a
  // doubled quote inside stands for one quote. A quote elsewhere is an ordinary
  // character. A line end inside quotes belongs to the cell.
  joined_.assign(line);
  for (;;) {
    unquoted_.clear();
    spans_.clear();
    bool open = false;
    std::size_t i = 0;
    const std::size_t n = joined_.size();
    while (i <= n) {
      spans_.push_back(unquoted_.size());
      std::size_t k = i;
      while (k < n && is_space(joined_[k]) && joined_[k] != delimiter_) ++k;
      if (k < n && joined_[k] == '"') {
        ++k;
        open = true;
        while (k < n) {
          if (joined_[k] == '"') {
            if (k + 1 < n && joined_[k + 1] == '"') {
              unquoted_ += '"';
              k += 2;
              continue;
            }
            open = false;
            ++k;
            break;
          }
          unquoted_ += joined_[k++];
        }
        if (open) break;
        // Text after the closing quote up to the delimiter is kept as it stands.
        while (k < n && joined_[k] != delimiter_) unquoted_ += joined_[k++];
      } else {
        k = i;
        while (k < n && joined_[k] != delimiter_) unquoted_ += joined_[k++];
      }
      spans_.push_back(unquoted_.size());
      i = k + 1;
    }
    if (!open) break;
    std::string_view more;
    if (!next_line(&more)) {
      fail("Error: %s line %ld: a quoted cell is not closed before the end of the file!\n", path_.c_str(),
           row->line);
    }
    joined_ += '\n';
    joined_.append(more);
  }
  for (std::size_t k = 0; k + 1 < spans_.size(); k += 2) {
    row->cells.push_back(std::string_view(unquoted_).substr(spans_[k], spans_[k + 1] - spans_[k]));
  }
  return true;
}
