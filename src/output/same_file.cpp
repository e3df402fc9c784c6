#include "output/same_file.h"

#include <sys/stat.h>

#include "control/failure.h"

void refuse_input_as_result(const std::string& result, const std::vector<std::string>& inputs) {
  struct stat target {};
  if (::stat(result.c_str(), &target) != 0) return;
  for (const std::string& input : inputs) {
    struct stat st {};
    if (::stat(input.c_str(), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino) {
      fail("Error: The result file %s is the input file %s; it would be overwritten!\n", result.c_str(), input.c_str());
    }
  }
}
