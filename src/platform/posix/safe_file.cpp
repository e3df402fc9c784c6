#include "platform/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/signals.h"

namespace {

constexpr std::size_t kOutputBuffer = 1 << 20;

}  // namespace

SafeFile::SafeFile(const std::string& path) : path_(path), target_(path) {
  struct stat st {};
  bool exists = ::stat(path.c_str(), &st) == 0;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode) && exists) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target_ = real;
      std::free(real);
    }
  }
  // A device such as /dev/null is written directly: there is no earlier result
  // to keep, and a rename would replace the device itself.
  if (exists && S_ISCHR(st.st_mode)) {
    out_ = std::fopen(path.c_str(), "w");
    created_ = out_ != nullptr;
    if (!created_) reason_ = std::strerror(errno);
    return;
  }
  // Replacing a folder or a file that may not be written is refused, as opening
  // the file for writing would be; so is replacing anything else that is not a
  // regular file (a named pipe), which the rename would destroy.
  if (path.empty() || path.back() == '/' || (exists && (!S_ISREG(st.st_mode) || ::access(path.c_str(), W_OK) != 0))) {
    const int error = exists && S_ISDIR(st.st_mode) ? EISDIR : exists && !S_ISREG(st.st_mode) ? EEXIST : errno;
    reason_ = path.empty() || (!exists && path.back() == '/') ? std::strerror(ENOENT) : std::strerror(error);
    if (error == EEXIST) reason_ = "not a regular file";
    return;
  }
  temp_ = target_ + ".tmpXXXXXX";
  int fd = ::mkstemp(temp_.data());
  if (fd < 0) {
    reason_ = std::strerror(errno);
    temp_.clear();
    return;
  }
  register_temp_file(temp_.c_str());
  mode_t mode;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  out_ = ::fdopen(fd, "w");
  if (out_ == nullptr) {
    reason_ = std::strerror(errno);
    ::close(fd);
    discard();
    return;
  }
  std::setvbuf(out_, nullptr, _IOFBF, kOutputBuffer);
  created_ = true;
}

SafeFile::~SafeFile() {
  if (!committed_) discard();
}

void SafeFile::discard() {
  register_temp_file(nullptr);
  if (out_ != nullptr) std::fclose(out_);
  out_ = nullptr;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

bool SafeFile::commit(std::string* why) {
  int error = 0;
  if (std::fflush(out_) != 0 || std::ferror(out_)) error = errno ? errno : EIO;
  if (error == 0 && !temp_.empty() && ::fsync(::fileno(out_)) != 0) error = errno;
  int closed = std::fclose(out_);
  out_ = nullptr;
  if (error == 0 && closed != 0) error = errno;
  if (error == 0 && !temp_.empty() && ::rename(temp_.c_str(), target_.c_str()) != 0) error = errno;
  if (error != 0) {
    discard();
    *why = std::strerror(error);
    return false;
  }
  register_temp_file(nullptr);
  committed_ = true;
  return true;
}
