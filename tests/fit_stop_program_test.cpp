// The built program's unattended stops: --converge and --keep-best on the bundled
// St. Louis data, their option errors, and the output without them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support.h"

namespace {

const std::string kExample = std::string(TARNOK_EXAMPLES) + "/st_louis/";
const std::string kGolden = std::string(TARNOK_GOLDEN) + "/";

struct Fit {
  RunResult run;
  std::vector<std::string> statistics;  // the statistics lines
  std::vector<std::string> after;       // the lines after them
  std::string result;
};

// Runs the program on the St. Louis example in normal mode with `options`.
Fit fit_st_louis(const std::vector<std::string>& options, const std::string& stdin_path = "/dev/null") {
  TempDir dir;
  std::vector<std::string> args = options;
  for (const char* a : {"n", "profile.tsv", "form.tsv", "data.tsv"}) {
    args.push_back(std::string(a) == "n" ? a : kExample + a);
  }
  args.push_back(dir.file("result.tsv"));
  Fit fit;
  fit.run = run_program(TARNOK_BINARY, args, stdin_path);
  const std::vector<std::string> lines = lines_of(fit.run.out);
  // 3 empty lines, 5 arguments, an empty line, the heading and an empty line.
  for (std::size_t i = 11; i < lines.size(); ++i) {
    (cells_of(lines[i]).size() == 3 && fit.after.empty() ? fit.statistics : fit.after).push_back(lines[i]);
  }
  fit.result = read_file(dir.file("result.tsv"));
  return fit;
}

std::string text_of(const char* pattern, auto... values) {
  char buffer[200];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

// The totals line of a result table: chi2 and nytot.
std::vector<std::string> totals_of(const std::string& result) {
  const std::vector<std::string> cells = cells_of(lines_of(result).back());
  return {cells[cells.size() - 2], cells.back()};
}

TEST(StopOptions, BadValuesAreRefusedBeforeAnyWork) {
  struct Case {
    std::vector<std::string> args;  // the positional arguments follow
    std::string out;
  };
  const Case cases[] = {
      {{"--converge", "0"}, "Error: --converge needs a positive number, not '0'!\n"},
      {{"--converge", "-1e-6"}, "Error: --converge needs a positive number, not '-1e-6'!\n"},
      {{"--converge=abc"}, "Error: --converge needs a positive number, not 'abc'!\n"},
      {{"--converge", "1e-6x"}, "Error: --converge needs a positive number, not '1e-6x'!\n"},
      {{"--converge", "nan"}, "Error: --converge needs a positive number, not 'nan'!\n"},
      {{"--converge", "inf"}, "Error: --converge needs a positive number, not 'inf'!\n"},
      {{"--converge="}, "Error: --converge needs a positive number, not ''!\n"},
      {{"--keep-best=yes"}, "Error: Unknown option --keep-best=yes! See tarnok --help.\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    for (const char* a : {"n", "p", "f", "d", "r"}) args.emplace_back(a);
    const RunResult run = run_program(TARNOK_BINARY, args);
    EXPECT_EQ(run.out, c.out) << c.args[0];
    EXPECT_EQ(run.status, 1) << c.args[0];
  }
  const RunResult last = run_program(TARNOK_BINARY, {"--converge"});
  EXPECT_EQ(last.out, "Error: --converge needs a value!\n");
  EXPECT_EQ(last.status, 1);
}

// Golden files captured from the program before these options existed: they catch
// regressions only.
TEST(StopOptions, WithoutThemConsoleAndResultAreUnchanged) {
  const Fit fit = fit_st_louis({"--passes", "56"});
  EXPECT_EQ(fit.run.status, 0);
  const std::vector<std::string> lines = lines_of(fit.run.out);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 8, lines.end()),
            lines_of(read_file(kGolden + "st_louis_passes56.console")));
  EXPECT_EQ(fit.run.out.back(), '\n');
  EXPECT_EQ(fit.result, read_file(kGolden + "st_louis_passes56.tsv"));
}

TEST(Converge, StopsWhenChi2AndTheProfilesHaveSettled) {
  // Bytes on standard input that is not a terminal do not stop an unattended run.
  TempDir dir;
  const std::string keys = dir.write("keys", "x\n");
  const double tolerance = 1e-2;
  const Fit fit = fit_st_louis({"--converge", "1e-2", "--passes", "5000"}, keys);
  ASSERT_EQ(fit.run.status, 0);
  const long n = static_cast<long>(fit.statistics.size());
  // Twelve comparisons in a row, each with the pass twelve earlier, from pass 22 on.
  ASSERT_GE(n, 33);
  ASSERT_LT(n, 5000);
  // chi2 worked out again from the printed lines: its relative change across the
  // window of twelve passes is below the tolerance at the stop (to the six digits
  // printed).
  auto chi2_of = [&](long k) {
    const std::vector<std::string> cells = cells_of(fit.statistics[static_cast<std::size_t>(k) - 1]);
    return std::atof(cells[0].c_str()) * std::atof(cells[1].c_str());
  };
  EXPECT_LT(std::fabs(chi2_of(n) - chi2_of(n - 12)) / chi2_of(n - 12), tolerance + 1e-5);

  const Fit stopped = fit_st_louis({"--passes", std::to_string(n)});
  EXPECT_EQ(fit.result, stopped.result) << "as if a key had been noticed at the start of the next pass";
  const std::vector<std::string> totals = totals_of(fit.result);
  ASSERT_EQ(fit.after.size(), 1u);
  const std::string head =
      text_of("Stopped: converged after %ld passes; results belong to pass %ld (chi2 %s, chi2/ny ", n, n + 1, totals[0].c_str());
  EXPECT_EQ(fit.after[0].rfind(head, 0), 0u) << fit.after[0];
  // The totals line carries chi2 to six digits only.
  EXPECT_NEAR(std::atof(fit.after[0].c_str() + head.size()),
              std::atof(totals[0].c_str()) / std::atoi(totals[1].c_str()), 1e-5);
}

TEST(Converge, SaysNotConvergedWhenThePassLimitComesFirst) {
  // Up to pass 56 chi2 falls by more than 1e-4 of itself across every twelve passes.
  const Fit fit = fit_st_louis({"--converge", "1e-4", "--passes", "56"});
  EXPECT_EQ(fit.statistics.size(), 56u);
  ASSERT_EQ(fit.after.size(), 1u);
  EXPECT_EQ(fit.after[0].rfind("Stopped: pass limit reached after 56 passes, not converged; results belong to pass 57 "
                               "(chi2 1813.12, chi2/ny ",
                               0),
            0u)
      << fit.after[0];
  EXPECT_EQ(fit.result, read_file(kGolden + "st_louis_passes56.tsv"));
}

TEST(KeepBestProgram, ResultIsThatOfTheLowestChi2) {
  // Pass 57 has a higher chi2/ny than pass 56 (0.691238 against 0.690774) but a
  // lower chi2, and the final step (pass 57) is kept.
  const Fit fit = fit_st_louis({"--keep-best", "--passes", "56"});
  ASSERT_EQ(fit.statistics.size(), 56u);
  ASSERT_EQ(fit.after.size(), 1u);
  EXPECT_EQ(fit.after[0].rfind("Stopped: pass limit reached after 56 passes; results belong to pass 57 (chi2 1813.12, "
                               "chi2/ny 0.691",
                               0),
            0u)
      << fit.after[0];
  EXPECT_EQ(fit.result, read_file(kGolden + "st_louis_passes56.tsv"));
}

}  // namespace
