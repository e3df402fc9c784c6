// A file written whole or not at all: the text goes into a temporary file beside
// the target, which replaces the target only once it is complete. The temporary
// file is created at once, so a path that cannot be written is known before any
// work is spent on the text. A character device (such as /dev/null) is written
// directly instead. Failures are returned, never reported: the caller words them.
#pragma once

#include <cstdio>
#include <string>

class SafeFile {
 public:
  // Creates the temporary file in the folder of `path` (UTF-8, the name as typed);
  // ok() tells whether that worked.
  explicit SafeFile(const std::string& path);
  // Removes the temporary file unless commit() has put it in place.
  ~SafeFile();
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;

  // False when the file cannot be written there: a folder, a file that may not be
  // written, a missing folder, a name ending in a separator, a Windows device name.
  bool ok() const { return created_; }
  // When ok() is false: why, as the system words it.
  const std::string& reason() const { return reason_; }
  const std::string& path() const { return path_; }
  std::FILE* stream() { return out_; }

  // Flushes the text to disk and puts it in the place of the target; once, and
  // only for a file that ok() says was created. False when any write failed, with
  // the reason in *why (as the system words it); the target is then unchanged and
  // the temporary file removed.
  bool commit(std::string* why);

 private:
  void discard();

  std::string path_;    // as typed
  std::string target_;  // the file that is replaced (a symbolic link is followed)
  std::string temp_;    // the temporary file beside the target
  std::string reason_;  // why the file could not be created
  std::FILE* out_ = nullptr;
  bool created_ = false;
  bool committed_ = false;
};
