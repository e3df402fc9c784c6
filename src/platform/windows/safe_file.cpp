#include "platform/safe_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <random>

#include "platform/files.h"
#include "platform/signals.h"
#include "platform/windows/last_error.h"
#include "platform/windows/wide_text.h"

namespace {

constexpr std::size_t kOutputBuffer = 1 << 20;

// Creates a new file that no other file had the name of, open for writing. It may be
// deleted while open (by an interrupt that ends the run), which then takes effect
// when the process ends.
HANDLE create_new_file(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

SafeFile::SafeFile(const std::string& path) : path_(path), target_(path) {
  // A device (NUL, CON, "nul.txt", "\\.\...") is refused: the temporary file's
  // name would name the device too, and replacing it is not possible. A folder, a
  // file that may not be written (read-only) and a name ending in a separator are
  // refused as opening the file for writing would refuse them.
  // The reasons the program finds itself are worded as a POSIX system words them, so
  // that both programs print the same message.
  const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(widen(path).c_str());
  const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (path.empty() || path.back() == '/' || path.back() == '\\' || names_device(path)) {
    reason_ = names_device(path) ? "the name is a device" : folder ? "Is a directory" : "No such file or directory";
    return;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    reason_ = folder ? "Is a directory" : (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? "Permission denied" : "the name is a device";
    return;
  }
  std::random_device random;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp_ = target_ + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(random() % 1000000u);
    h = create_new_file(widen(temp_));
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    set_last_error(GetLastError());
    reason_ = last_error_text();
    temp_.clear();
    return;
  }
  register_temp_file(temp_.c_str());
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(h), _O_WRONLY | _O_BINARY);
  out_ = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (out_ == nullptr) {
    if (fd >= 0) {
      _close(fd);
    } else {
      CloseHandle(h);
    }
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
  if (!temp_.empty()) remove_file(temp_);
  temp_.clear();
}

bool SafeFile::commit(std::string* why) {
  std::string reason;
  if (std::fflush(out_) != 0 || std::ferror(out_)) {
    reason = "a write failed";
  } else if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out_))))) {
    reason = "the file could not be flushed to disk";
  }
  const int closed = std::fclose(out_);
  out_ = nullptr;
  if (reason.empty() && closed != 0) reason = "the file could not be closed";
  if (reason.empty() && !replace_file(temp_, target_)) reason = last_error_text();
  if (!reason.empty()) {
    discard();
    *why = reason;
    return false;
  }
  register_temp_file(nullptr);
  committed_ = true;
  return true;
}
