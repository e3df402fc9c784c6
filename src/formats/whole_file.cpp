#include "formats/whole_file.h"

#include "control/failure.h"

ResultFile::ResultFile(const std::string& path) : file_(path) {
  if (!file_.ok()) fail("Error: Can't create %s!\n", path.c_str());
}

void ResultFile::commit() {
  std::string why;
  if (!file_.commit(&why)) {
    fail("Error: Can't write %s (%s)! Any earlier result file is unchanged.\n", file_.path().c_str(), why.c_str());
  }
}

void write_whole_file(const std::string& path, std::string_view text) {
  ResultFile file(path);
  std::fwrite(text.data(), 1, text.size(), file.stream());
  file.commit();
}
