#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

InputFile::InputFile(const std::string& path) {
  // The open does not wait, so a named pipe without a writer is refused instead of
  // hanging; the descriptor blocks again for the reads.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    struct stat st {};
    if (error == ENOENT || error == ENOTDIR) {
      not_open_ = NotOpen::missing;
    } else if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      not_open_ = NotOpen::folder;
    } else {
      not_open_ = NotOpen::refused;
      reason_ = std::strerror(error);
    }
    return;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    if (S_ISDIR(st.st_mode)) {
      not_open_ = NotOpen::folder;
    } else if (st.st_mode != 0 && !S_ISREG(st.st_mode)) {
      not_open_ = NotOpen::not_regular;
    } else {
      not_open_ = NotOpen::refused;
      reason_ = std::strerror(error);
    }
    return;
  }
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
