#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

InputFile::InputFile(const std::string& path) {
  // The open does not wait, so a named pipe without a writer is refused instead of
  // hanging; the descriptor blocks again for the reads.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
                  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) return;
  handle_ = fd;
  size_ = static_cast<unsigned long long>(st.st_size);
}

InputFile::~InputFile() {
  if (ok()) ::close(static_cast<int>(handle_));
}

long long InputFile::read(char* to, std::size_t n) {
  ssize_t got;
  do {
    got = ::read(static_cast<int>(handle_), to, n);
  } while (got < 0 && errno == EINTR);
  return got;
}
