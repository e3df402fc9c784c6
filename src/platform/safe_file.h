// The result file is written whole or not at all: the table goes into a temporary
// file beside the target, which replaces the target only once it is complete. The
// temporary file is created before the fit, so a result path that cannot be
// written is reported before any fitting time is spent. A character device (such
// as /dev/null) is written directly instead.
#pragma once

#include <cstdio>
#include <string>

class ResultFile {
 public:
  // Creates the temporary file in the folder of `path` (the name as typed). Fails
  // with "Error: Can't create %s!" when the result cannot be written there.
  explicit ResultFile(const std::string& path);
  // Removes the temporary file unless commit() has renamed it.
  ~ResultFile();
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  std::FILE* stream() { return out_; }

  // Flushes the table to disk and renames it over the target. Fails, naming the
  // result path and the reason, when any write failed; the target is then unchanged.
  void commit();

 private:
  void discard();

  std::string path_;    // as typed, for messages
  std::string target_;  // the file that is replaced (a symbolic link is followed)
  std::string temp_;    // the temporary file beside the target
  std::FILE* out_ = nullptr;
  bool committed_ = false;
};
