// The files a run writes (the result table, the report folder, the fit's input
// files that prepare makes), each written whole or not at all through the
// platform's SafeFile; a file that cannot be written ends the run with the
// program's message.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/safe_file.h"

class ResultFile {
 public:
  // Creates the temporary file in the folder of `path` (the name as typed). Fails
  // with "Error: Can't create %s!" when the result cannot be written there.
  explicit ResultFile(const std::string& path);

  std::FILE* stream() { return file_.stream(); }

  // Flushes the text to disk and puts it in the place of the target. Fails, naming
  // the path and the reason, when any write failed; the target is then unchanged.
  void commit();

 private:
  SafeFile file_;
};

// Writes `text` to `path` whole or not at all, as a ResultFile.
void write_whole_file(const std::string& path, std::string_view text);
