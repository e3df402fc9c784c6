// Guards the input files against being overwritten by the result.
#pragma once

#include <string>
#include <vector>

// Fails when `result` names the same file as one of `inputs` (by the file's
// identity: device and inode, or on Windows volume and file index; so other
// spellings of the same path, links and other cases of the letters count too).
void refuse_input_as_result(const std::string& result, const std::vector<std::string>& inputs);
