// An input file opened for reading. Only a regular file will do: every input is
// read more than once, so a folder, a named pipe or a device is refused, and the
// open never waits for a writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Why an input file is not open.
enum class NotOpen {
  none,         ///< it is open
  missing,      ///< no file of that name (nor its folder)
  folder,       ///< the name is a folder's
  not_regular,  ///< a named pipe, a device or a socket
  refused,      ///< the system refused to open it; InputFile::reason() says why
};

class InputFile {
 public:
  // Opens `path` (UTF-8); ok() tells whether it is open, not_open() why not.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool ok() const { return handle_ != kClosed; }
  NotOpen not_open() const { return not_open_; }
  // The system's text for a refused open, e.g. "Permission denied".
  const std::string& reason() const { return reason_; }
  // Size in bytes when opened.
  unsigned long long size() const { return size_; }
  // Reads up to `n` bytes into `to`: the count read, 0 at the end of the file, -1
  // on a read error.
  long long read(char* to, std::size_t n);

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;  // a descriptor, or a Windows handle
  unsigned long long size_ = 0;
  NotOpen not_open_ = NotOpen::none;
  std::string reason_;
};

// The message of a failed open of the input `path`: "Error: Can't find %s!" for a
// file that is not there, and otherwise what is wrong with it.
std::string not_open_message(const std::string& path, const InputFile& file);
