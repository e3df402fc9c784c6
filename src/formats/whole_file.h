// The files a run writes (the result table, the report folder, the fit's input
// files that prepare makes), each written whole or not at all through the
// platform's SafeFile; a file that cannot be written ends the run with the
// program's message.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/safe_file.h"

// What a failed write leaves as it was, said after its message.
inline constexpr const char* kResultUnchanged = "Any earlier result file is unchanged.";

class ResultFile {
 public:
  // Creates the temporary file in the folder of `path` (the name as typed). Fails
  // with "Error: Can't create %s!" and a line with the system's reason when the
  // file cannot be written there. Messages name the file `shown_as` (`path` when
  // empty) and end a failed write with `kept`.
  explicit ResultFile(const std::string& path, std::string shown_as = {}, std::string kept = kResultUnchanged);

  std::FILE* stream() { return file_.stream(); }

  // Flushes the text to disk and puts it in the place of the target. Fails, naming
  // the path and the reason, when any write failed; the target is then unchanged.
  void commit();

 private:
  SafeFile file_;
  std::string shown_as_;
  std::string kept_;
};

// Writes `text` to `path` whole or not at all, as a ResultFile.
void write_whole_file(const std::string& path, std::string_view text, const std::string& shown_as = {},
                      const std::string& kept = kResultUnchanged);
