#include "platform/input_file.h"

#include <windows.h>

#include "platform/windows/wide_text.h"

InputFile::InputFile(const std::string& path) {
  if (names_device(path)) return;
  // A folder cannot be opened this way; a pipe or a device is opened but is not a
  // file on disk, and a file on disk may still be a folder's reparse point.
  HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
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
