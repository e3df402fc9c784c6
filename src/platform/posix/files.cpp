#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/path_names.h"
#include "platform/posix/last_error.h"

namespace {

thread_local int g_error = 0;

bool done(bool ok) {
  g_error = ok ? 0 : errno;
  return ok;
}

}  // namespace

std::FILE* open_file(const std::string& path, const char* mode) {
  std::FILE* f = std::fopen(path.c_str(), mode);
  g_error = f == nullptr ? errno : 0;
  return f;
}

bool replace_file(const std::string& from, const std::string& target) {
  return done(::rename(from.c_str(), target.c_str()) == 0);
}

bool remove_file(const std::string& path) { return done(::unlink(path.c_str()) == 0); }

bool make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return done(true);
  struct stat st {};
  const int error = errno;
  if (error == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return done(true);
  errno = error;
  return done(false);
}

bool make_directories(const std::string& path) {
  if (path.empty()) {
    g_error = EINVAL;
    return false;
  }
  // Each folder along the path, the outermost first; one that exists already, as a
  // folder, is passed.
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string folder = path.substr(0, end);
    if (::mkdir(folder.c_str(), 0777) != 0) {
      const int error = errno;
      struct stat st {};
      const bool exists = ::stat(folder.c_str(), &st) == 0;
      if (!exists || !S_ISDIR(st.st_mode)) {
        g_error = exists && error == EEXIST ? ENOTDIR : error;
        return false;
      }
    }
    if (end == std::string::npos) break;
  }
  return done(true);
}

void set_last_error(int error) { g_error = error; }

std::string last_error_text() { return std::strerror(g_error); }

bool file_identity(const std::string& path, FileIdentity* id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return done(false);
  id->volume = static_cast<unsigned long long>(st.st_dev);
  id->index = static_cast<unsigned long long>(st.st_ino);
  return done(true);
}

bool is_separator(char c) { return c == '/'; }

std::string name_as_compared(const std::string& name) { return name; }
