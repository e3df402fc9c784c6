#include "output/same_file.h"

#include "control/failure.h"
#include "platform/files.h"

void refuse_input_as_result(const std::string& result, const std::vector<std::string>& inputs) {
  FileIdentity target;
  if (!file_identity(result, &target)) return;
  for (const std::string& input : inputs) {
    FileIdentity id;
    if (file_identity(input, &id) && id == target) {
      fail("Error: The result file %s is the input file %s; it would be overwritten!\n", result.c_str(), input.c_str());
    }
  }
}
