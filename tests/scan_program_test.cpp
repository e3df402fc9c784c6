// `tarnok scan` through the built program: the table's columns, the rows agree
// with a fit from the same fresh starts, threads change nothing but the times, and
// what cannot work is refused before any fitting.
#include <gtest/gtest.h>

#include <cstdio>

#include "support.h"

namespace {

const std::string kTarnok = TARNOK_BINARY;
const std::string kMeasured = std::string(TARNOK_EXAMPLES) + "/st_louis/measured/";

std::string prepare(const TempDir& dir, const std::string& factors) {
  const std::string out = dir.file("prepared" + factors);
  const RunResult run = run_program(kTarnok, {"prepare", "--uncertainties", kMeasured + "uncertainties.csv", "--total",
                                              "Mass", "--factors", factors, kMeasured + "concentrations.csv", out});
  EXPECT_EQ(run.status, 0) << run.out;
  return out;
}

// The table without its last column (seconds).
std::vector<std::vector<std::string>> without_times(const std::string& tsv) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : lines_of(tsv)) {
    std::vector<std::string> cells = cells_of(line);
    cells.pop_back();
    rows.push_back(cells);
  }
  return rows;
}

// The best chi2 of the fit's console ("Best start: ... (chi2 X, ..."), as printed.
std::string best_chi2_shown(const std::string& console) {
  const std::size_t at = console.find("Best start: ");
  if (at == std::string::npos) return "no best start";
  const std::string best = console.substr(console.find("(chi2 ", at) + 6);
  return best.substr(0, best.find(','));
}

}  // namespace

// Per stop recipe: the scan's table is the same for 1 and 2 threads, and its K = 3
// row is the best of the fit's three fresh starts from prepare's 3 factors run with
// the fit options that recipe stands for (the scan's defaults being the fit command
// prepare prints).
TEST(ScanProgram, TableAgreesWithFreshStartsAndThreads) {
  TempDir dir;
  const std::string prepared = prepare(dir, "2");
  const std::string three = prepare(dir, "3");
  const struct {
    std::string name;
    std::vector<std::string> scan, fit;
  } recipes[] = {
      {"defaults", {}, {"--accelerate", "--converge", "1e-6", "--keep-best"}},
      {"plain", {"--no-accelerate", "--no-keep-best", "--converge", "1e-5"}, {"--converge", "1e-5"}},
  };
  std::vector<std::string> best_of_recipe;
  for (const auto& recipe : recipes) {
    SCOPED_TRACE(recipe.name);
    std::vector<std::vector<std::vector<std::string>>> tables;
    for (const std::string threads : {"1", "2"}) {
      const std::string out = dir.file("scan-" + recipe.name + threads);
      std::vector<std::string> args = {"scan", "--factors", "2-3", "--starts", "3", "--passes", "40", "--threads",
                                       threads, "--total", "Mass"};
      args.insert(args.end(), recipe.scan.begin(), recipe.scan.end());
      args.insert(args.end(), {prepared, out});
      const RunResult run = run_program(kTarnok, args);
      ASSERT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(run.err, "");  // no progress when standard error is not a terminal
      EXPECT_NE(read_file(out + "/scan.html").find("<svg"), std::string::npos);
      tables.push_back(without_times(read_file(out + "/scan.tsv")));
    }
    EXPECT_EQ(tables[0], tables[1]);
    const std::vector<std::vector<std::string>>& table = tables[0];
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0], (std::vector<std::string>{"factors", "best_chi2", "q_exp", "chi2_over_qexp",
                                                  "drop_from_previous", "starts_at_best", "smallest_share",
                                                  "species_above_2"}));
    EXPECT_EQ(table[1][0], "2");
    EXPECT_EQ(table[1][4], "");  // nothing to drop from for the first K
    EXPECT_NE(table[2][4], "");
    // 418 samples x 13 species, none missing: 5434 values, less 13 x K profile
    // elements and 418 x K contributions.
    EXPECT_EQ(table[1][2], std::to_string(5434 - 2 * (13 + 418)));
    EXPECT_EQ(table[2][2], std::to_string(5434 - 3 * (13 + 418)));

    std::vector<std::string> args = {"--fresh-starts", "3", "--passes", "40"};
    args.insert(args.end(), recipe.fit.begin(), recipe.fit.end());
    args.insert(args.end(), {"n", three + "/profile.tsv", three + "/form.tsv", three + "/data.tsv", dir.file("r.tsv")});
    const RunResult fit = run_program(kTarnok, args);
    ASSERT_EQ(fit.status, 0) << fit.out;
    char shown[32];  // the console's %lg of the table's value
    std::snprintf(shown, sizeof shown, "%lg", std::stod(table[2][1]));
    EXPECT_EQ(best_chi2_shown(fit.out), shown);
    best_of_recipe.push_back(shown);
  }
  // The recipes differ within 40 passes, so the comparisons above tell them apart.
  EXPECT_NE(best_of_recipe[0], best_of_recipe[1]);
}

TEST(ScanProgram, RefusesWhatCannotWork) {
  TempDir dir;
  const std::string prepared = prepare(dir, "2");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{prepared, dir.file("o")}, "Error: scan: give --factors A-B! See tarnok scan --help."},
      {{"--factors", "4-3", prepared, dir.file("o")}, "Error: scan: --factors needs A-B with 1 <= A <= B <= 20, not '4-3'!"},
      {{"--factors", "2-14", prepared, dir.file("o")}, "Error: scan: 14 factors but only 13 species in the fit!"},
      {{"--factors", "2-3", "--starts", "0", prepared, dir.file("o")},
       "Error: scan: --starts needs a whole number of at least 1, not '0'!"},
      {{"--factors", "2-3", "--total", "PM10", prepared, dir.file("o")},
       "Error: scan: --total PM10 is not a species of the fit!"},
      {{"--factors", "2-3", prepared}, "Error: scan: give PREPARED and OUTDIR! See tarnok scan --help."},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"scan"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = run_program(kTarnok, args);
    EXPECT_EQ(run.status, 1) << c.message;
    EXPECT_EQ(lines_of(run.out).back(), c.message);
    EXPECT_FALSE(file_exists(dir.file("o/scan.tsv"))) << c.message;
  }
}
