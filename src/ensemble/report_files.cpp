#include "ensemble/report_files.h"

#include <filesystem>
#include <system_error>

#include "control/failure.h"
#include "output/safe_file.h"
#include "output/same_file.h"

namespace {

std::string path_in(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

}  // namespace

void prepare_report_dir(const std::string& dir, const std::vector<std::string>& names,
                        const std::vector<std::string>& keep) {
  std::error_code error;
  if (dir.empty()) fail("Error: --report needs a folder!\n");
  std::filesystem::create_directories(dir, error);
  if (error || !std::filesystem::is_directory(dir, error)) fail("Error: Can't create the report folder %s!\n", dir.c_str());
  for (const std::string& name : names) {
    const std::string path = path_in(dir, name);
    refuse_input_as_result(path, keep);  // an existing file under another spelling
    const std::filesystem::path spelled = std::filesystem::weakly_canonical(path, error);
    for (const std::string& kept : keep) {
      if (!error && spelled == std::filesystem::weakly_canonical(kept, error) && !error) {
        fail("Error: The report file %s is the file %s; it would be overwritten!\n", path.c_str(), kept.c_str());
      }
    }
    ResultFile probe(path);  // removed again unless committed
  }
}

void write_report_file(const std::string& dir, const std::string& name, const std::string& text) {
  ResultFile file(path_in(dir, name));
  std::fwrite(text.data(), 1, text.size(), file.stream());
  file.commit();
}
