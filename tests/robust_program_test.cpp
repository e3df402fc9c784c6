// The built program in robust mode on the bundled Baltimore data: the closing
// lines, and a result that belongs to an earlier pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace {

const std::string kExample = std::string(TARNOK_EXAMPLES) + "/baltimore/";

struct Fit {
  RunResult run;
  std::vector<std::string> lines;  // the console lines
  std::string result;
};

Fit fit_baltimore(const std::vector<std::string>& options) {
  TempDir dir;
  std::vector<std::string> args = options;
  args.insert(args.end(), {"n", kExample + "profile.tsv", kExample + "form.tsv", kExample + "data.tsv",
                           dir.file("result.tsv")});
  Fit fit;
  fit.run = run_program(TARNOK_BINARY, args);
  fit.lines = lines_of(fit.run.out);
  fit.result = read_file(dir.file("result.tsv"));
  return fit;
}

// With --keep-best the weights are restored with the profiles of the best pass:
// the result is byte for byte that of a run stopped at the start of that pass.
TEST(RobustProgram, KeptBestPassGivesTheTableOfARunStoppedThere) {
  const Fit best = fit_baltimore({"--robust", "--keep-best", "--passes", "100"});
  ASSERT_EQ(best.run.status, 0) << best.run.out;
  ASSERT_GE(best.lines.size(), 2u);
  const std::string& stopped = best.lines[best.lines.size() - 2];
  ASSERT_EQ(stopped, "Stopped: pass limit reached after 100 passes; results belong to pass 65 (chi2 7240.56, chi2/ny 0.823446).");
  const Fit there = fit_baltimore({"--robust", "--passes", "64"});
  EXPECT_EQ(there.result, best.result);
  EXPECT_EQ(there.lines.back(), best.lines.back());

  // The closing lines name both chi2; the table's totals line holds Q(robust).
  EXPECT_EQ(best.lines.back(),
            "Robust (alpha 4): Q(true) 7485.25, Q(robust) 7240.56; 56 of 14090 values down-weighted (0.40 %).");
  const std::vector<std::string> totals = cells_of(lines_of(best.result).back());
  EXPECT_EQ(totals[totals.size() - 2], "7240.56");
}

}  // namespace
