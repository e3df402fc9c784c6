// The program against its reference build (the same driver with the literal
// kernels): console output and result file must be the same bytes for every
// thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "reference/random_model.h"
#include "support.h"

namespace {

std::string number(double value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.9g", value);
  return buf;
}

// Writes the model's profile, form and data files into dir.
void write_tables(const TempDir& dir, const TestModel& m) {
  const auto nfakt = static_cast<std::size_t>(m.nfakt);
  const auto nvar = static_cast<std::size_t>(m.nvar);
  std::string profile, form, data;
  for (const std::string& name : m.faktnavn) {
    profile += "\t" + name;
    form += "\t" + name;
  }
  profile += "\n";
  form += "\n";
  for (std::size_t v = 0; v < nvar; ++v) {
    profile += m.varnavn[v];
    form += m.varnavn[v];
    for (std::size_t f = 0; f < nfakt; ++f) {
      profile += "\t" + number(m.p[v * nfakt + f]);
      form += "\t" + std::to_string(m.fp[v * nfakt + f]);
    }
    profile += "\n";
    form += "\n";
  }
  data = m.text + "\n" + m.xnavn;
  for (const std::string& name : m.varnavn) data += "\t" + name + "\tu(" + name + ")";
  data += "\n";
  for (int s = 0; s < m.nrec; ++s) {
    data += std::string(m.id(s));
    for (std::size_t v = 0; v < nvar; ++v) {
      const std::size_t cell = static_cast<std::size_t>(s) * nvar + v;
      data += "\t" + number(static_cast<double>(m.rawdata[cell])) + "\t" + number(static_cast<double>(m.usik[cell]));
    }
    data += "\n";
  }
  dir.write("profile.tsv", profile);
  dir.write("form.tsv", form);
  dir.write("data.tsv", data);
}

struct Output {
  std::string console;
  std::string result;
};

Output run(const std::string& program, const std::string& folder, const std::vector<std::string>& options,
           const std::vector<std::string>& args) {
  std::vector<std::string> all = options;
  for (const std::string& a : args) all.push_back(a);
  RunResult run = run_program(program, all);
  EXPECT_EQ(run.status, 0) << run.out;
  Output out{run.out, read_file(folder + "/result.tsv")};
  std::remove((folder + "/result.tsv").c_str());
  return out;
}

// Returns the reference output.
Output expect_same_as_reference(const std::string& folder, const std::string& profile, const std::string& form,
                              const std::string& data, const std::vector<std::string>& mode_and_rotate,
                              const std::string& passes, const std::vector<std::string>& options = {}) {
  std::vector<std::string> args = {mode_and_rotate[0], profile, form, data, folder + "/result.tsv"};
  if (mode_and_rotate.size() > 1) args.push_back(mode_and_rotate[1]);
  std::vector<std::string> reference_options = {"--passes", passes};
  reference_options.insert(reference_options.end(), options.begin(), options.end());
  const Output want = run(TARNOK_REFERENCE_BINARY, folder, reference_options, args);
  EXPECT_FALSE(want.result.empty());
  for (const char* threads : {"1", "2", "3", "7"}) {
    std::vector<std::string> engine_options = {"--passes", passes, "--threads", threads};
    engine_options.insert(engine_options.end(), options.begin(), options.end());
    const Output got = run(TARNOK_BINARY, folder, engine_options, args);
    EXPECT_EQ(got.console, want.console) << data << " threads " << threads;
    EXPECT_EQ(got.result, want.result) << data << " threads " << threads;
  }
  return want;
}

TEST(IdentityProgram, StLouisExampleGivesTheReferenceBytesInBothModes) {
  TempDir dir;
  const std::string ex = std::string(TARNOK_EXAMPLES) + "/st_louis";
  expect_same_as_reference(dir.path(), ex + "/profile.tsv", ex + "/form.tsv", ex + "/data.tsv", {"n"}, "40");
  expect_same_as_reference(dir.path(), ex + "/profile.tsv", ex + "/form.tsv", ex + "/data.tsv", {"o", "0.5"}, "15");
}

// The extrapolations are chosen from the passes' profiles alone, so an accelerated
// fit (plain and robust) is the same bytes for every thread count and engine.
TEST(IdentityProgram, AcceleratedFitGivesTheReferenceBytes) {
  TempDir dir;
  const std::string ex = std::string(TARNOK_EXAMPLES) + "/st_louis";
  expect_same_as_reference(dir.path(), ex + "/profile.tsv", ex + "/form.tsv", ex + "/data.tsv", {"n"}, "80",
                           {"--accelerate", "--keep-best"});
  expect_same_as_reference(dir.path(), ex + "/profile.tsv", ex + "/form.tsv", ex + "/data.tsv", {"n"}, "60",
                           {"--accelerate", "--robust"});
}

TEST(IdentityProgram, RobustFitsGiveTheReferenceBytes) {
  TempDir dir;
  const std::string ex = std::string(TARNOK_EXAMPLES) + "/st_louis";
  const Output want = expect_same_as_reference(dir.path(), ex + "/profile.tsv", ex + "/form.tsv", ex + "/data.tsv",
                                               {"o", "0.5"}, "40", {"--robust", "2"});
  EXPECT_NE(want.console.find("values down-weighted"), std::string::npos) << want.console;
  expect_same_as_reference(dir.path(), ex + "/profile.tsv", ex + "/form.tsv", ex + "/data.tsv", {"n"}, "30",
                           {"--robust=0.7", "--keep-best"});
}

TEST(IdentityProgram, RandomProblemsGiveTheReferenceBytes) {
  struct Case {
    ProblemShape shape;
    std::vector<std::string> mode_and_rotate;
  };
  std::vector<Case> cases(4);
  cases[0].shape = {20, 60, 300, 0, 0.0f, 0.05, 0.3, false};
  cases[0].mode_and_rotate = {"n"};
  cases[1].shape = {8, 40, 500, 1, 0.4f, 0.1, 0.2, false};
  cases[1].mode_and_rotate = {"O", "0.4"};
  cases[2].shape = {9, 9, 120, 0, 1.0f, 0.2, 0.5, true};  // records with fewer values than factors: singular systems
  cases[2].mode_and_rotate = {"N", "1"};
  cases[3].shape = {5, 64, 77, 1, 0.0f, 0.0, 0.0, true};
  cases[3].mode_and_rotate = {"offset"};
  std::uint64_t seed = 40;
  int unmeasured_seen = 0;
  for (const Case& c : cases) {
    TempDir dir;
    const TestModel model = random_model(++seed, c.shape);
    write_tables(dir, model);
    const Output want = expect_same_as_reference(dir.path(), dir.file("profile.tsv"), dir.file("form.tsv"),
                                                 dir.file("data.tsv"), c.mode_and_rotate, "25");
    // Records with nothing measured (in the singular cases) get residue 0 and
    // leave the other records' residue finite: no number of the table is NaN.
    EXPECT_EQ(want.result.find("nan"), std::string::npos) << "seed " << seed;
    const auto nvar = static_cast<std::size_t>(model.nvar);
    for (std::size_t s = 0; s < static_cast<std::size_t>(model.nrec); ++s) {
      const float* u = model.usik.data() + s * nvar;
      unmeasured_seen += std::none_of(u, u + nvar, [](float value) { return value > 0; }) ? 1 : 0;
    }
  }
  EXPECT_GT(unmeasured_seen, 0) << "the singular cases must hold records with nothing measured";
}

}  // namespace
