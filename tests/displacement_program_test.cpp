// Displacement and held elements through the built program: the options that
// cannot work are refused before any fitting; the displacement within bootstrap
// replicates writes the same bytes for every number of threads, and tarnok report
// draws the page of a displacement run again from its folder.
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
      {{"--passes", "5", "--bs-disp", "2"}, "Error: --bs-disp needs --report DIR for its tables!\n"},
      {{"--bs-disp", "2", "--report", "r"},
       "Error: --bs-disp needs --passes or --converge, so that every fit ends by itself!\n"},
      {{"--passes", "5", "--bs-disp", "2", "--report", "r", "--hold", "Zinc smelter:Zn=1"},
       "Error: --bs-disp displaces a fit without --hold!\n"},
      {{"--passes", "5", "--bs-disp-levels", "4"}, "Error: --bs-disp-levels needs --bs-disp!\n"},
      {{"--passes", "5", "--bs-disp", "2", "--report", "r", "--bs-disp-levels", "1,1"},
       "Error: --bs-disp-levels needs rising positive numbers separated by commas, not '1,1'!\n"},
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

namespace {

// The example's form with only the elements of SO4 free, and its first 80
// records, so that a displacement runs in a moment.
std::string few_free_form(const TempDir& dir) {
  std::string form;
  for (const std::string& line : lines_of(read_file(kExample + "form.tsv"))) {
    std::vector<std::string> cells = cells_of(line);
    const bool keep = cells[0].empty() || cells[0] == "SO4";
    std::string row = cells[0];
    for (std::size_t k = 1; k < cells.size(); ++k) row += "\t" + (keep ? cells[k] : std::string("0"));
    form += row + "\n";
  }
  return dir.write("form.tsv", form);
}

std::string first_records(const TempDir& dir) {
  std::string data;
  const std::vector<std::string> lines = lines_of(read_file(kExample + "data.tsv"));
  for (std::size_t k = 0; k < lines.size() && k < 2 + 80; ++k) data += lines[k] + "\n";
  return dir.write("data.tsv", data);
}

}  // namespace

TEST(DisplacementProgram, BootstrapDisplacementKeepsItsBytesAndTheReportIsDrawnAgain) {
  TempDir dir;
  const std::string form = few_free_form(dir);
  const std::string data = first_records(dir);
  auto run_with = [&](const std::string& threads, const std::string& report) {
    std::vector<std::string> args = {"--passes", "5", "--threads", threads, "--bootstrap", "2", "--disp",
                                      "--disp-levels", "4", "--bs-disp", "3", "--bs-disp-levels", "2,4", "--total",
                                      "SO4", "--report", report, "n", kExample + "profile.tsv", form, data,
                                      dir.file("result" + threads + ".tsv")};
    return run_program(kTarnok, args);
  };
  const RunResult one = run_with("1", dir.file("r1"));
  ASSERT_EQ(one.status, 0) << one.out;
  EXPECT_NE(one.out.find("Bootstrap displacement: 3 replicates in blocks of "), std::string::npos) << one.out;
  EXPECT_NE(one.out.find("Bootstrap displacement dQmax 4: "), std::string::npos) << one.out;
  const std::vector<std::string> bs = lines_of(read_file(dir.file("r1/bs_disp.tsv")));
  EXPECT_EQ(bs.size(), 1 + 7 * 2u);
  EXPECT_EQ(bs[0], "factor\tvariable\tbase\tdq\tlow\thigh\treplicates");
  EXPECT_NE(read_file(dir.file("r1/run.json")).find("\"bootstrap_displacement\": {"), std::string::npos);
  for (const std::string threads : {"3"}) {
    const RunResult other = run_with(threads, dir.file("r" + threads));
    ASSERT_EQ(other.status, 0) << other.out;
    for (const char* name : {"bs_disp.tsv", "bs_disp_summary.tsv", "disp.tsv", "bootstrap.tsv"}) {
      EXPECT_EQ(read_file(dir.file("r" + threads + "/" + name)), read_file(dir.file(std::string("r1/") + name)))
          << name << ", " << threads << " threads";
    }
  }

  // The page shows the intervals beside the bootstrap boxes, and tarnok report
  // draws the same page and figures from the folder.
  const std::string report = dir.file("r1");
  const std::vector<std::string> figures = list_dir(report + "/figures");
  std::vector<std::string> written = {read_file(report + "/report.html")};
  for (const std::string& name : figures) written.push_back(read_file(report + "/figures/" + name));
  EXPECT_NE(written[0].find("id=\"bs_displacement\""), std::string::npos);
  EXPECT_NE(read_file(report + "/figures/bootstrap_1.svg").find("--bs-disp, dQmax 4"), std::string::npos);
  const RunResult again = run_program(kTarnok, {"report", report});
  ASSERT_EQ(again.status, 0) << again.out;
  EXPECT_EQ(list_dir(report + "/figures"), figures);
  EXPECT_EQ(read_file(report + "/report.html"), written[0]);
  for (std::size_t k = 0; k < figures.size(); ++k) {
    EXPECT_EQ(read_file(report + "/figures/" + figures[k]), written[k + 1]) << figures[k];
  }
}
