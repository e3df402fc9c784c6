#include "platform/folders.h"

#include <windows.h>

#include <algorithm>
#include <random>

#include "platform/files.h"
#include "platform/path_names.h"
#include "platform/windows/last_error.h"
#include "platform/windows/wide_text.h"

namespace {

bool failed() {
  set_last_error(GetLastError());
  return false;
}

std::string trimmed(const std::string& path) {
  std::string t = path;
  while (t.size() > 1 && is_separator(t.back())) t.pop_back();
  return t;
}

// A new folder named `base` with a random ending; its path in *made.
bool make_unique_folder(const std::string& base, std::string* made) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = base + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(random() % 1000000u);
    if (CreateDirectoryW(widen(name).c_str(), nullptr)) {
      *made = name;
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return failed();
  }
  return failed();
}

}  // namespace

std::string followed_link(const std::string& path) { return path; }

bool is_folder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool folder_entries(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  WIN32_FIND_DATAW found{};
  HANDLE h = FindFirstFileW(widen(trimmed(path) + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return failed();
  do {
    const std::string name = narrow(found.cFileName);
    if (name != "." && name != "..") names->push_back(name);
  } while (FindNextFileW(h, &found));
  FindClose(h);
  std::sort(names->begin(), names->end());
  return true;
}

bool folder_writable(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool make_folder_beside(const std::string& target, std::string* made) {
  return make_unique_folder(trimmed(target) + ".tmp", made);
}

void copy_folder_permissions(const std::string&, const std::string&) {}

bool remove_empty_folder(const std::string& path) { return RemoveDirectoryW(widen(path).c_str()) != 0; }

bool remove_tree(const std::string& path) {
  const std::wstring wide = widen(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return DeleteFileW(wide.c_str()) != 0;
  std::vector<std::string> names;
  bool ok = folder_entries(path, &names);
  for (const std::string& name : names) ok = remove_tree(trimmed(path) + "\\" + name) && ok;
  return RemoveDirectoryW(wide.c_str()) != 0 && ok;
}

// Windows cannot exchange two names in one step: the old folder is renamed beside
// itself first, then the new one takes its name.
bool put_folder_in_place(const std::string& from, const std::string& target, std::string* old) {
  old->clear();
  const DWORD flags = MOVEFILE_WRITE_THROUGH;
  if (GetFileAttributesW(widen(target).c_str()) == INVALID_FILE_ATTRIBUTES) {
    return MoveFileExW(widen(from).c_str(), widen(target).c_str(), flags) ? true : failed();
  }
  std::string aside;
  if (!make_unique_folder(trimmed(target) + ".old", &aside)) return false;
  RemoveDirectoryW(widen(aside).c_str());
  if (!MoveFileExW(widen(target).c_str(), widen(aside).c_str(), flags)) return failed();
  if (!MoveFileExW(widen(from).c_str(), widen(target).c_str(), flags)) {
    const DWORD error = GetLastError();
    MoveFileExW(widen(aside).c_str(), widen(target).c_str(), flags);
    set_last_error(error);
    return false;
  }
  *old = aside;
  return true;
}
