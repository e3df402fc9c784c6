#include "platform/files.h"

#include <windows.h>

#include <cwchar>

#include "platform/path_names.h"
#include "platform/windows/last_error.h"
#include "platform/windows/wide_text.h"

namespace {

thread_local DWORD g_error = 0;

bool done(bool ok) {
  g_error = ok ? 0 : GetLastError();
  return ok;
}

}  // namespace

std::FILE* open_file(const std::string& path, const char* mode) {
  std::wstring wide_mode = widen(mode);
  if (wide_mode.find(L'b') == std::wstring::npos) wide_mode += L'b';
  std::FILE* f = _wfopen(widen(path).c_str(), wide_mode.c_str());
  g_error = f == nullptr ? ERROR_OPEN_FAILED : 0;
  return f;
}

bool replace_file(const std::string& from, const std::string& target) {
  return done(MoveFileExW(widen(from).c_str(), widen(target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
              0);
}

bool remove_file(const std::string& path) { return done(DeleteFileW(widen(path).c_str()) != 0); }

bool make_directory(const std::string& path) {
  const std::wstring wide = widen(path);
  if (CreateDirectoryW(wide.c_str(), nullptr)) return done(true);
  const DWORD error = GetLastError();
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return done(true);
  }
  SetLastError(error);
  return done(false);
}

bool make_directories(const std::string& path) {
  if (path.empty()) {
    g_error = ERROR_INVALID_NAME;
    return false;
  }
  // Each folder along the path, the outermost first; one that exists already, as a
  // folder, is passed (also a drive, "C:", and the share of a path "\\server\share").
  std::size_t end = 0;
  if (path.size() > 2 && is_separator(path[0]) && is_separator(path[1])) {
    int separators = 0;  // past "\\server\share"
    while (end < path.size() && separators < 4) separators += is_separator(path[end++]) ? 1 : 0;
    if (separators < 4) end = path.size();
  }
  for (;; ++end) {
    while (end < path.size() && !is_separator(path[end])) ++end;
    const std::wstring folder = widen(path.substr(0, end));
    if (!folder.empty() && !CreateDirectoryW(folder.c_str(), nullptr)) {
      const DWORD error = GetLastError();
      const DWORD attributes = GetFileAttributesW(folder.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        g_error = attributes != INVALID_FILE_ATTRIBUTES && error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error;
        return false;
      }
    }
    if (end >= path.size()) break;
  }
  return done(true);
}

void set_last_error(DWORD error) { g_error = error; }

std::string last_error_text() {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 g_error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = text != nullptr ? narrow(text) : "error " + std::to_string(g_error);
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) reason.pop_back();
  return reason;
}

bool file_identity(const std::string& path, FileIdentity* id) {
  if (names_device(path)) return done(false);
  // No access rights are asked for, so a file that another program holds open, or
  // that may not be read, still shows who it is; folders need backup semantics.
  HANDLE h = CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return done(false);
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!ok) return done(false);
  id->volume = info.dwVolumeSerialNumber;
  id->index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return done(true);
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

std::string name_as_compared(const std::string& name) {
  std::wstring wide = widen(name);
  CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return narrow(wide.c_str());
}
