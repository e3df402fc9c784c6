// Displacement and held elements through the built program: the options that
// cannot work are refused before any fitting.
#include <gtest/gtest.h>

#include "support.h"

namespace {

const std::string kTarnok = TARNOK_BINARY;
const std::string kExample = std::string(TARNOK_EXAMPLES) + "/st_louis/";

std::vector<std::string> fit_args(const std::vector<std::string>& options, const std::string& profile,
                                  const std::string& result) {
  std::vector<std::string> args = options;
  args.insert(args.end(), {"n", profile, kExample + "form.tsv", kExample + "data.tsv", result});
  return args;
}

}  // namespace

TEST(DisplacementProgram, RefusesWhatCannotWork) {
  const struct {
    std::vector<std::string> options;
    std::string message;
  } cases[] = {
      {{"--passes", "5", "--disp"}, "Error: --disp needs --report DIR for its tables!\n"},
      {{"--disp", "--report", "r"}, "Error: --disp needs --passes or --converge, so that every fit ends by itself!\n"},
      {{"--passes", "5", "--disp", "--report", "r", "--hold", "Zinc smelter:Zn=1"},
       "Error: --disp displaces a fit without --hold!\n"},
      {{"--passes", "5", "--disp-levels", "4"}, "Error: --disp-levels needs --disp!\n"},
      {{"--passes", "5", "--disp", "--report", "r", "--disp-levels", "8,4"},
       "Error: --disp-levels needs rising positive numbers separated by commas, not '8,4'!\n"},
      {{"--passes", "5", "--hold", "Zinc smelter:NO3=1"}, "Error: --hold Zinc smelter:NO3=1: the form holds that element already!\n"},
      {{"--passes", "5", "--hold", "Zinc smelter:Zn=1", "--hold", "Zinc smelter:Zn=2"},
       "Error: --hold Zinc smelter:Zn=2: that element is held twice!\n"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const RunResult run = run_program(kTarnok, fit_args(c.options, kExample + "profile.tsv", dir.file("result.tsv")));
    EXPECT_EQ(run.status, 1) << c.message;
    EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
  }
}
