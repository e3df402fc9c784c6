#include "platform/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/files.h"
#include "platform/posix/last_error.h"

namespace {

// Keeps `error` for last_error_text().
bool failed_with(int error) {
  set_last_error(error);
  return false;
}

}  // namespace

std::string followed_link(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved = real;
  std::free(real);
  return resolved;
}

bool is_folder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool folder_entries(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return failed_with(errno);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  ::closedir(dir);
  std::sort(names->begin(), names->end());
  return true;
}

bool folder_writable(const std::string& path) {
  return ::access(path.c_str(), W_OK | X_OK) == 0 || failed_with(errno);
}

bool make_folder_beside(const std::string& target, std::string* made) {
  std::string trimmed = target;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::string name = trimmed + ".tmpXXXXXX";
  if (::mkdtemp(name.data()) == nullptr) return failed_with(errno);
  // mkdtemp makes the folder for its owner only; give it what mkdir would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(name.c_str(), 0777 & ~mask);
  *made = name;
  return true;
}

void copy_folder_permissions(const std::string& like, const std::string& from) {
  struct stat st {};
  if (::stat(like.c_str(), &st) == 0) ::chmod(from.c_str(), st.st_mode & 07777);
}

bool remove_empty_folder(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool remove_tree(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0;
  std::vector<std::string> names;
  bool ok = folder_entries(path, &names);
  for (const std::string& name : names) ok = remove_tree(path + "/" + name) && ok;
  return ::rmdir(path.c_str()) == 0 && ok;
}

bool put_folder_in_place(const std::string& from, const std::string& target, std::string* old) {
  old->clear();
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) {
    if (::rename(from.c_str(), target.c_str()) != 0) return failed_with(errno);
    return true;
  }
#ifdef __linux__
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
    *old = from;
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return failed_with(errno);
#endif
  std::string aside = target;
  while (aside.size() > 1 && aside.back() == '/') aside.pop_back();
  aside += ".oldXXXXXX";
  // A free name for the old folder: made as an empty folder, which rename replaces.
  if (::mkdtemp(aside.data()) == nullptr) return failed_with(errno);
  if (::rename(target.c_str(), aside.c_str()) != 0) {
    const int error = errno;
    ::rmdir(aside.c_str());
    return failed_with(error);
  }
  if (::rename(from.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::rename(aside.c_str(), target.c_str());
    return failed_with(error);
  }
  *old = aside;
  return true;
}
