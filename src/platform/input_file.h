// An input file opened for reading. Only a regular file will do: every input is
// read more than once, so a folder, a named pipe or a device is refused, and the
// open never waits for a writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class InputFile {
 public:
  // Opens `path` (UTF-8); ok() tells whether it is open.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool ok() const { return handle_ != kClosed; }
  // Size in bytes when opened.
  unsigned long long size() const { return size_; }
  // Reads up to `n` bytes into `to`: the count read, 0 at the end of the file, -1
  // on a read error.
  long long read(char* to, std::size_t n);

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;  // a descriptor, or a Windows handle
  unsigned long long size_ = 0;
};
