#include "formats/whole_file.h"

#include <utility>

#include "control/failure.h"

ResultFile::ResultFile(const std::string& path, std::string shown_as, std::string kept)
    : file_(path), shown_as_(shown_as.empty() ? path : std::move(shown_as)), kept_(std::move(kept)) {
  if (!file_.ok()) fail("Error: Can't create %s!\nReason: %s.\n", shown_as_.c_str(), file_.reason().c_str());
}

void ResultFile::commit() {
  std::string why;
  if (!file_.commit(&why)) fail("Error: Can't write %s (%s)! %s\n", shown_as_.c_str(), why.c_str(), kept_.c_str());
}

void write_whole_file(const std::string& path, std::string_view text, const std::string& shown_as,
                      const std::string& kept) {
  ResultFile file(path, shown_as, kept);
  std::fwrite(text.data(), 1, text.size(), file.stream());
  file.commit();
}
