#include "platform/input_file.h"

#include <windows.h>

#include <string>

#include "platform/windows/wide_text.h"

namespace {

// The system's text for an error code, without its closing point and line end.
std::string error_text(DWORD error) {
  wchar_t text[512] = {};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                 static_cast<DWORD>(sizeof text / sizeof text[0]), nullptr);
  if (n == 0) return "Windows error " + std::to_string(error);
  std::string out = narrow(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.' || out.back() == ' ')) {
    out.pop_back();
  }
  return out;
}

}  // namespace

InputFile::InputFile(const std::string& path) {
  if (names_device(path)) {
    not_open_ = NotOpen::not_regular;
    return;
  }
  // A folder cannot be opened this way; a pipe or a device is opened but is not a
  // file on disk, and a file on disk may still be a folder's reparse point.
  HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      not_open_ = NotOpen::missing;
    } else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      not_open_ = NotOpen::folder;
    } else {
      not_open_ = NotOpen::refused;
      reason_ = error_text(error);
    }
    return;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK) {
    not_open_ = NotOpen::not_regular;
  } else if (!GetFileInformationByHandle(h, &info)) {
    not_open_ = NotOpen::refused;
    reason_ = error_text(GetLastError());
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    not_open_ = NotOpen::folder;
  }
  if (not_open_ != NotOpen::none) {
    CloseHandle(h);
    return;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  size_ = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

InputFile::~InputFile() {
  if (ok()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

long long InputFile::read(char* to, std::size_t n) {
  const DWORD want = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), to, want, &got, nullptr)) return -1;
  return got;
}
