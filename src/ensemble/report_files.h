// The report folder (--report DIR): the tables of starts and bootstrap beside the
// result table, each written whole or not at all.
#pragma once

#include <string>
#include <vector>

// Creates the folder `dir` (and its parents) when missing and checks that each of
// `names` can be written in it, so that a folder that cannot take the report is
// refused before any fitting time is spent. A report file that names one of the
// files in `keep` (the inputs and the result, however spelled) is refused too.
void prepare_report_dir(const std::string& dir, const std::vector<std::string>& names,
                        const std::vector<std::string>& keep);

// Writes `text` to dir/name through a temporary file that replaces it once complete.
void write_report_file(const std::string& dir, const std::string& name, const std::string& text);
