// `tarnok prepare` run as the user runs it: the files it writes read back exactly
// through the fit's own readers, the bundled measured files go all the way through
// a fit, files already there are kept unless --force, and every refusal comes with
// its message, exit status 1 and nothing written.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "test_model.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/profile_format.h"
#include "support.h"

namespace {

const std::string kBinary = TARNOK_BINARY;
const std::string kExamples = TARNOK_EXAMPLES;

const char kValues[] =
    "Date;Na;Cl;Sulfate;Mass\n"
    "d1;1,5;2;0.25;10\n"
    "d2;NA;4;0.5;12\n"
    "d3;3;-999;1.25;14\n"
    "d4;2;1;0.75;11\n";
const char kUncertainties[] =
    "Date;Na;Cl;Sulfate;Mass\n"
    "d1;0.1;0.2;0.05;1\n"
    "d2;0.1;0.2;0.05;1\n"
    "d3;0.3;0.2;0.05;1\n"
    "d4;0.25;0.2;0.125;1\n";

TestModel read_fit_files(const std::string& dir) {
  TestModel m;
  read_profile(m, dir + "/profile.tsv");
  read_form(m, dir + "/form.tsv");
  read_data(m, dir + "/data.tsv");
  return m;
}

TEST(PrepareProgram, WhatItWritesTheFitReadsBackExactly) {
  TempDir dir;
  const std::string v = dir.write("v.csv", kValues);
  const std::string u = dir.write("u.csv", kUncertainties);
  const std::string out = dir.file("out");
  RunResult r = run_program(kBinary, {"prepare", "--uncertainties", u, "--weak", "Cl", "--total", "Mass", "--factors",
                                      "2", "--names", "Sea,Other", v, out});
  ASSERT_EQ(r.status, 0) << r.out;
  TestModel m = read_fit_files(out);
  EXPECT_EQ(m.faktnavn, (std::vector<std::string>{"Sea", "Other"}));
  EXPECT_EQ(m.varnavn, (std::vector<std::string>{"Na", "Cl", "Sulfate", "Mass"}));
  EXPECT_EQ(m.xnavn, "Date");
  ASSERT_EQ(m.nrec, 4);
  EXPECT_EQ(std::string(m.id(2)), "d3");
  for (int e : m.fp) EXPECT_EQ(e, 1);
  for (double e : m.p) EXPECT_GT(e, 0.0);
  // Na: median of 1.5, 3, 2 is 2; the missing d2 gets it with uncertainty 0.
  // Cl (weak): uncertainties tripled; d3 missing, median of 2, 4, 1 is 2.
  // Mass (total): weak, uncertainty tripled.
  const float values[4][4] = {{1.5f, 2, 0.25f, 10}, {2, 4, 0.5f, 12}, {3, 2, 1.25f, 14}, {2, 1, 0.75f, 11}};
  const float tripled = static_cast<float>(3.0 * static_cast<double>(0.2f));
  const float sigma[4][4] = {
      {0.1f, tripled, 0.05f, 3}, {0, tripled, 0.05f, 3}, {0.3f, 0, 0.05f, 3}, {0.25f, tripled, 0.125f, 3}};
  for (int s = 0; s < 4; ++s) {
    for (int j = 0; j < 4; ++j) {
      EXPECT_EQ(m.rawdata[static_cast<std::size_t>(s * 4 + j)], values[s][j]) << s << " " << j;
      EXPECT_EQ(m.usik[static_cast<std::size_t>(s * 4 + j)], sigma[s][j]) << s << " " << j;
    }
  }
  // The species table, and last the fit command, which runs.
  EXPECT_NE(r.out.find("Cl       Cl           weak"), std::string::npos) << r.out;
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "  " + kBinary + " --accelerate --converge 1e-6 --keep-best --passes 20000 --report " + out +
                              "/report --total Mass n " + out + "/profile.tsv " +
                              out + "/form.tsv " + out + "/data.tsv " + out + "/result.tsv");
  std::vector<std::string> species = lines_of(read_file(out + "/species.tsv"));
  ASSERT_EQ(species.size(), 5u);
  EXPECT_EQ(species[0], "species\tname in fit\tcategory\tS/N\tmissing\tbelow MDL\tminimum\tmedian\tmaximum\tsuggested");
  EXPECT_EQ(species[4], "Mass\tMass\ttotal\t10.75\t0.000\t-\t10\t11.5\t14\tstrong");
}

TEST(PrepareProgram, MissingValuesByMedianAndDetectionLimits) {
  TempDir dir;
  const std::string v = dir.write("v.csv", "Date,A,B\nd1,0.05,1\nd2,n.d.,2\nd3,2,3\n");
  const std::string mdl = dir.write("mdl.csv", "A,0.1,0.1\nB,0.4,0.5\n");
  const std::string out = dir.file("out");
  RunResult r = run_program(kBinary, {"prepare", "--mdl", mdl, "--missing", "median", "--missing-marker", "n.d.",
                                      "--factors", "1", v, out});
  ASSERT_EQ(r.status, 0) << r.out;
  TestModel m = read_fit_files(out);
  const float a_median = static_cast<float>((static_cast<double>(0.05f) + 2.0) / 2.0);
  EXPECT_EQ(m.rawdata[2], a_median);
  EXPECT_EQ(m.usik[2], static_cast<float>(4.0 * static_cast<double>(a_median)));
  EXPECT_EQ(m.usik[0], static_cast<float>(5.0 / 6.0 * static_cast<double>(0.1f)));
  EXPECT_NEAR(static_cast<double>(m.usik[5]), std::sqrt(1.5 * 1.5 + 0.2 * 0.2), 1e-6);
}

TEST(PrepareProgram, KnownProfilesAndHeldZeros) {
  TempDir dir;
  const std::string v = dir.write("v.csv", kValues);
  const std::string u = dir.write("u.csv", kUncertainties);
  const std::string profiles = dir.write("p.tsv", "\tSea\tSoil\nMass\t1\t2\nCl\t0.5\t0\nNa\t0.25\t0\nSulfate\t0\t1\nFe\t1\t1\n");
  const std::string out = dir.file("out");
  RunResult r = run_program(kBinary, {"prepare", "--uncertainties", u, "--profiles", profiles, "--hold-zeros", v, out});
  ASSERT_EQ(r.status, 0) << r.out;
  TestModel m = read_fit_files(out);
  EXPECT_EQ(m.faktnavn, (std::vector<std::string>{"Sea", "Soil"}));
  EXPECT_EQ(m.starting_p, (std::vector<double>{0.25, 0, 0.5, 0, 0, 1, 1, 2}));
  EXPECT_EQ(m.fp, (std::vector<int>{1, 0, 1, 0, 0, 1, 1, 1}));
}

TEST(PrepareProgram, BundledMeasuredFilesGoThroughAFit) {
  struct Set {
    const char* name;
    std::string values, uncertainties;
    std::vector<std::string> options;
  };
  const std::vector<Set> sets = {
      {"st_louis", "st_louis/measured/concentrations.csv", "st_louis/measured/uncertainties.csv",
       {"--total", "Mass", "--factors", "7"}},
      {"baltimore", "baltimore/measured/concentrations.txt", "baltimore/measured/uncertainties.txt",
       {"--total", "PM2.5", "--bad", "OM", "--factors", "8"}},
  };
  for (const Set& set : sets) {
    SCOPED_TRACE(set.name);
    TempDir dir;
    std::vector<std::string> args = {"prepare", "--uncertainties", kExamples + "/" + set.uncertainties};
    args.insert(args.end(), set.options.begin(), set.options.end());
    args.push_back(kExamples + "/" + set.values);
    args.push_back(dir.path());
    RunResult prepared = run_program(kBinary, args);
    ASSERT_EQ(prepared.status, 0) << prepared.out;
    // The fit command prepare prints, as it stands but for fewer passes.
    const std::string command = lines_of(prepared.out).back();
    std::vector<std::string> fit_args;
    std::size_t at = command.find(kBinary) + kBinary.size();
    while (at < command.size()) {
      const std::size_t end = std::min(command.find(' ', at + 1), command.size());
      fit_args.push_back(command.substr(at + 1, end - at - 1));
      at = end;
    }
    ASSERT_GE(fit_args.size(), 5u);
    const auto passes = std::find(fit_args.begin(), fit_args.end(), "--passes");
    ASSERT_NE(passes, fit_args.end());
    passes[1] = "100";
    RunResult fit = run_program(kBinary, fit_args);
    EXPECT_EQ(fit.status, 0) << fit.out;
    EXPECT_NE(fit.out.find("Stopped: "), std::string::npos);
    EXPECT_TRUE(file_exists(dir.file("result.tsv")));
    EXPECT_TRUE(file_exists(dir.file("report/report.html")));
  }
}

TEST(PrepareProgram, KeepsFilesAlreadyThereUnlessForced) {
  TempDir dir;
  const std::string v = dir.write("v.csv", kValues);
  const std::string u = dir.write("u.csv", kUncertainties);
  const std::string out = dir.file("out");
  const std::vector<std::string> args = {"prepare", "--uncertainties", u, "--factors", "2", v, out};
  ASSERT_EQ(run_program(kBinary, args).status, 0);
  const std::string form = read_file(out + "/form.tsv");
  dir.write("out/profile.tsv", "the analyst's own starting profiles\n");
  RunResult refused = run_program(kBinary, args);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "Error: " + out + "/data.tsv already exists; prepare replaces files only with --force!\n");
  EXPECT_EQ(read_file(out + "/profile.tsv"), "the analyst's own starting profiles\n");

  std::vector<std::string> forced = args;
  forced.insert(forced.begin() + 1, "--force");
  ASSERT_EQ(run_program(kBinary, forced).status, 0);
  EXPECT_NE(read_file(out + "/profile.tsv"), "the analyst's own starting profiles\n");
  EXPECT_EQ(read_file(out + "/form.tsv"), form);
  EXPECT_EQ(list_dir(out), (std::vector<std::string>{"data.tsv", "form.tsv", "profile.tsv", "species.tsv"}));

  // Not even --force replaces an input: values kept as data.tsv in the output folder.
  const std::string inside = dir.write("out/data.tsv", kValues);
  RunResult kept = run_program(kBinary, {"prepare", "--force", "--uncertainties", u, "--factors", "2",
                                         out + "/../out/data.tsv", out});
  EXPECT_EQ(kept.status, 1);
  EXPECT_EQ(kept.out, "Error: " + inside + " is the input file " + out +
                          "/../out/data.tsv; prepare never overwrites its input!\n");
  EXPECT_EQ(read_file(inside), kValues);
}

// A write that fails part-way (a file-size limit between the sizes of the new
// files, as a nearly full disk would) leaves every old file, also with --force.
TEST(PrepareProgram, AFailedWriteLeavesTheFolderAsItWas) {
  TempDir dir;
  const std::string v = dir.write("v.csv", kValues);
  const std::string u = dir.write("u.csv", kUncertainties);
  const std::string out = dir.file("out");
  ASSERT_EQ(run_program(kBinary, {"prepare", "--uncertainties", u, "--factors", "2", v, out}).status, 0);
  std::vector<std::string> before;
  for (const std::string& name : list_dir(out)) before.push_back(read_file(out + "/" + name));
  // 250 bytes: data.tsv, profile.tsv and form.tsv of three factors fit, species.tsv not.
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {250, 250};
    setrlimit(RLIMIT_FSIZE, &limit);
    const RunResult r = run_program(kBinary, {"prepare", "--force", "--uncertainties", u, "--factors", "3", v, out});
    const std::string expected = "Error: Can't write " + out + "/species.tsv (File too large)! Any earlier result "
                                 "file is unchanged.\n";
    _exit(r.status == 1 && r.out == expected ? 0 : 2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<std::string> after;
  for (const std::string& name : list_dir(out)) after.push_back(read_file(out + "/" + name));
  EXPECT_EQ(after, before);
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"out", "u.csv", "v.csv"}));
}

struct Refusal {
  const char* name;
  std::vector<std::string> args;  // {V} values, {U} uncertainties, {P} profiles, {O} output folder
  std::string values;
  std::string uncertainties;
  std::string message;
};

TEST(PrepareProgram, RefusesWithItsMessageAndWritesNothing) {
  const std::string v = kValues, u = kUncertainties;
  const std::vector<Refusal> cases = {
      {"no uncertainties", {"--factors", "2", "{V}", "{O}"}, v, u,
       "Error: prepare: give exactly one of --uncertainties FILE and --mdl FILE!\n"},
      {"both uncertainties", {"--uncertainties", "{U}", "--mdl", "{U}", "--factors", "2", "{V}", "{O}"}, v, u,
       "Error: prepare: --uncertainties excludes --mdl! See tarnok prepare --help.\n"},
      {"no starting model", {"--uncertainties", "{U}", "{V}", "{O}"}, v, u,
       "Error: prepare: give --factors K (or --profiles FILE) for the starting model!\n"},
      {"unknown option", {"--uncertainties", "{U}", "--factor", "2", "{V}", "{O}"}, v, u,
       "Error: prepare: The following arguments were not expected: {O} --factor! See tarnok prepare --help.\n"},
      {"missing file", {"--uncertainties", "{U}x", "--factors", "2", "{V}", "{O}"}, v, u,
       "Error: Can't find {U}x!\n"},
      {"unknown species", {"--uncertainties", "{U}", "--factors", "2", "--bad", "Fe,Na", "{V}", "{O}"}, v, u,
       "Error: no species named Fe in {V} (names are matched in full)!\n"},
      {"not a number", {"--uncertainties", "{U}", "--factors", "2", "{V}", "{O}"},
       "Date;Na;Cl;Sulfate;Mass\nd1;1;2;0.25;<0.1\n", u,
       "Error: {V} line 2, species Mass: '<0.1' is not a number!\n"},
      {"zero uncertainty of a measured value", {"--uncertainties", "{U}", "--factors", "2", "{V}", "{O}"}, v,
       "Date;Na;Cl;Sulfate;Mass\nd1;0.1;0.2;0.05;1\nd2;0.1;0.2;0.05;1\nd3;0.3;0.2;0;1\nd4;0.25;0.2;0.125;1\n",
       "Error: {U} line 4, species Sulfate: the uncertainty 0 of a measured value is not above zero; the fit would "
       "silently leave the value out. Give its uncertainty, or mark the value missing (an empty cell or NA) to leave "
       "it out on purpose!\n"},
      {"samples differ", {"--uncertainties", "{U}", "--factors", "2", "{V}", "{O}"}, v,
       "Date;Na;Cl;Sulfate;Mass\nd1;0.1;0.2;0.05;1\nd2;0.1;0.2;0.05;1\nd4;0.3;0.2;0.05;1\nd3;0.25;0.2;0.125;1\n",
       "Error: {U} line 4 column 1: sample 'd4' where {V} line 4 has 'd3'; both tables must hold the same samples in "
       "the same order!\n"},
      {"species without values", {"--uncertainties", "{U}", "--factors", "1", "{V}", "{O}"},
       "Date,A,B\nd1,1,NA\nd2,2,NA\n", "Date,A,B\nd1,1,1\nd2,2,1\n",
       "Error: the species B has no measured value; leave it out with --bad!\n"},
      {"more factors than species", {"--uncertainties", "{U}", "--factors", "5", "{V}", "{O}"}, v, u,
       "Error: 5 factors but only 4 species in the fit!\n"},
      {"profiles without a species", {"--uncertainties", "{U}", "--profiles", "{P}", "{V}", "{O}"}, v, u,
       "Error: {P}: no profile row for the species Cl, Mass!\n"},
      {"names do not match factors", {"--uncertainties", "{U}", "--factors", "3", "--names", "A,B", "{V}", "{O}"}, v,
       u, "Error: prepare: 2 names for 3 factors!\n"},
      {"values saved as UTF-16", {"--uncertainties", "{U}", "--factors", "2", "{V}", "{O}"},
       std::string("\xFF\xFE" "D\0a\0t\0e\0", 10), u,
       "Error: {V}: the file is UTF-16 text (a NUL byte in every character); save it as UTF-8!\n"},
      {"a folder as uncertainties", {"--uncertainties", "/", "--factors", "2", "{V}", "{O}"}, v, u,
       "Error: Can't read /: it is a folder, not a file!\n"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string vp = dir.write("v.csv", c.values);
    const std::string up = dir.write("u.csv", c.uncertainties);
    const std::string pp = dir.write("p.tsv", "\tA\tB\nNa\t1\t0\nSulfate\t0\t1\n");
    const std::string out = dir.file("out");
    auto fill = [&](std::string text) {
      const std::pair<const char*, std::string> keys[] = {{"{V}", vp}, {"{U}", up}, {"{P}", pp}, {"{O}", out}};
      for (const auto& [key, path] : keys) {
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, 3, path);
      }
      return text;
    };
    std::vector<std::string> args = {"prepare"};
    for (const std::string& a : c.args) args.push_back(fill(a));
    RunResult r = run_program(kBinary, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, fill(c.message));
    EXPECT_FALSE(file_exists(out)) << "a folder was made";
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"p.tsv", "u.csv", "v.csv"}));
    EXPECT_EQ(read_file(vp), c.values);
  }
}

}  // namespace
