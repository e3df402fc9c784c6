#include "ensemble/report_files.h"

#include <filesystem>
#include <system_error>

#include "control/failure.h"
#include "output/safe_file.h"

namespace {

std::string path_in(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

}  // namespace

void prepare_report_dir(const std::string& dir, const std::vector<std::string>& names) {
  std::error_code error;
  if (dir.empty()) fail("Error: --report needs a folder!\n");
  std::filesystem::create_directories(dir, error);
  if (error || !std::filesystem::is_directory(dir, error)) fail("Error: Can't create the report folder %s!\n", dir.c_str());
  for (const std::string& name : names) {
    ResultFile probe(path_in(dir, name));  // removed again unless committed
  }
}

void write_report_file(const std::string& dir, const std::string& name, const std::string& text) {
  ResultFile file(path_in(dir, name));
  std::fwrite(text.data(), 1, text.size(), file.stream());
  file.commit();
}
