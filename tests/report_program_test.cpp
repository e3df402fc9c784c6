// The report folder of --report DIR, end to end through the built program: the
// console and the result table do not change, the run record and the diagnostic
// tables agree with them, input text cannot inject markup, a folder that cannot
// be written ends the run before the fit.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/mount.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "formats/number_text.h"
#include "output/sha256.h"
#include "support.h"

namespace {

const std::string kTarnok = TARNOK_BINARY;
const std::string kExample = std::string(TARNOK_EXAMPLES) + "/st_louis/";

std::string lg(double value) {
  char buf[kNumberTextSize];
  return std::string(buf, format_lg(buf, value));
}

std::vector<std::string> example_args(const std::string& result) {
  return {"n", kExample + "profile.tsv", kExample + "form.tsv", kExample + "data.tsv", result};
}

std::vector<std::string> with_options(std::vector<std::string> options, const std::vector<std::string>& args) {
  options.insert(options.end(), args.begin(), args.end());
  return options;
}

// Every report file is well-formed XML (xmllint prints nothing and ends with 0).
void expect_well_formed(const std::string& dir) {
  std::vector<std::string> files = {dir + "/report.html"};
  for (const std::string& name : list_dir(dir + "/figures")) files.push_back(dir + "/figures/" + name);
  for (const std::string& file : files) {
    RunResult r = run_program(XMLLINT, {"--noout", file});
    EXPECT_EQ(r.status, 0) << file;
  }
}

// The cells of column `col` in rows [first, first + count) of a table's lines.
std::vector<std::string> column_of(const std::vector<std::string>& lines, std::size_t first, std::size_t count,
                                   std::size_t col) {
  std::vector<std::string> out;
  for (std::size_t i = first; i < first + count; ++i) out.push_back(cells_of(lines[i]).at(col));
  return out;
}

}  // namespace

TEST(ReportProgram, ConsoleAndResultAreTheSameWithAndWithoutReport) {
  const std::vector<std::vector<std::string>> option_sets = {
      {"--passes", "30"},
      {"--converge", "1e-4", "--keep-best", "--passes", "60", "--threads", "1"},
  };
  for (const std::vector<std::string>& options : option_sets) {
    TempDir dir;
    const std::vector<std::string> args = with_options(options, example_args(dir.file("result.tsv")));
    RunResult plain = run_program(kTarnok, args);
    ASSERT_EQ(plain.status, 0) << plain.out;
    const std::string plain_table = read_file(dir.file("result.tsv"));
    RunResult reported = run_program(kTarnok, with_options({"--report", dir.file("report")}, args));
    ASSERT_EQ(reported.status, 0) << reported.out;
    EXPECT_EQ(reported.out, plain.out);
    EXPECT_EQ(read_file(dir.file("result.tsv")), plain_table);
    EXPECT_EQ(list_dir(dir.file("report")),
              (std::vector<std::string>{"figures", "page_numbers.json", "records.tsv", "report.html", "run.json",
                                        "variables.tsv"}));
  }
}

TEST(ReportProgram, RecordAndTablesAgreeWithConsoleAndResult) {
  TempDir dir;
  const std::vector<std::string> args = example_args(dir.file("result.tsv"));
  RunResult r = run_program(kTarnok, with_options({"--passes", "40", "--report", dir.file("out"), "--total", "Mass"}, args));
  ASSERT_EQ(r.status, 0) << r.out;
  const nlohmann::json run = nlohmann::json::parse(read_file(dir.file("out/run.json")));

  // One entry per statistics line, in the doubles that were printed.
  std::vector<std::string> console = lines_of(r.out);
  console.erase(console.begin(), console.end() - 40);
  ASSERT_EQ(run["passes"].size(), 40u);
  for (std::size_t k = 0; k < 40; ++k) {
    const nlohmann::json& pass = run["passes"][k];
    EXPECT_EQ(lg(pass["chi2_per_ny"].get<double>()) + "\t" + std::to_string(pass["ny"].get<int>()) + "\t" +
                  lg(pass["mean_squared_contribution_less_one"].get<double>()),
              console[k]);
    EXPECT_EQ(pass["chi2"].get<double>() / pass["ny"].get<int>(), pass["chi2_per_ny"].get<double>());
  }
  EXPECT_EQ(run["stop"]["reason"], "pass limit reached");
  EXPECT_EQ(run["stop"]["result_pass"], 41);

  // The totals are those of the result's totals line.
  const std::vector<std::string> result = lines_of(read_file(dir.file("result.tsv")));
  const std::size_t nrec = 418, nvar = 13, nfakt = 7;
  const std::vector<std::string> totals = cells_of(result.back());
  EXPECT_EQ(lg(run["totals"]["chi2"].get<double>()), totals[nfakt + 2]);
  EXPECT_EQ(std::to_string(run["totals"]["ny"].get<int>()), totals[nfakt + 3]);
  EXPECT_EQ(run["dimensions"]["nrec"], nrec);
  EXPECT_EQ(run["inputs"]["data"]["sha256"], sha256_hex(read_file(kExample + "data.tsv")));
  EXPECT_EQ(run["inputs"]["data"]["size"], read_file(kExample + "data.tsv").size());

  // variables.tsv: chi2 and every regression cell as the result table prints them.
  const std::vector<std::string> variables = lines_of(read_file(dir.file("out/variables.tsv")));
  ASSERT_EQ(variables.size(), 1 + nvar);
  const std::size_t profiles = 2 + nrec + 2;
  EXPECT_EQ(column_of(variables, 1, nvar, 0), column_of(result, profiles, nvar, 0));
  EXPECT_EQ(column_of(variables, 1, nvar, 3), column_of(result, profiles, nvar, nfakt + 2));
  for (std::size_t k = 0; k < 2 * nfakt; ++k) {
    EXPECT_EQ(column_of(variables, 1, nvar, 13 + k), column_of(result, profiles, nvar, nfakt + 4 + k)) << k;
  }
  // records.tsv: identifiers and residue contributions of the result table.
  const std::vector<std::string> records = lines_of(read_file(dir.file("out/records.tsv")));
  ASSERT_EQ(records.size(), 1 + nrec);
  EXPECT_EQ(column_of(records, 1, nrec, 0), column_of(result, 2, nrec, 0));
  EXPECT_EQ(column_of(records, 1, nrec, 5), column_of(result, 2, nrec, nfakt + 1));

  // The apportionment of Mass adds up to 100 %.
  double percent = 0;
  for (const nlohmann::json& f : run["apportionment"]["factors"]) percent += f["percent"].get<double>();
  EXPECT_NEAR(percent, 100.0, 1e-9);
  const std::string html = read_file(dir.file("out/report.html"));
  for (const char* heading : {"Run summary", "Convergence", "Apportionment of Mass", "Factor profiles", "Fingerprint",
                              "Contributions over time", "Monthly means", "Weekday means", "Contributions of factor pairs",
                              "Variables", "Records", "Residue factor"}) {
    EXPECT_NE(html.find(std::string(">") + heading + "<"), std::string::npos) << heading;
  }
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("http://www.w3.org/1999/xhtml"), html.find("http"));  // nothing loaded from elsewhere
  expect_well_formed(dir.file("out"));
}

TEST(ReportProgram, InputTextIsEscapedEverywhere) {
  TempDir dir;
  const std::string profile = dir.write("profile.tsv", "\t<b>A&amp;\tB\"'\nN<a>\t1\t0.2\nCl\t0.1\t1\nK&\t0.5\t0.5\n");
  const std::string form = dir.write("form.tsv", "\tA\tB\nNa\t1\t1\nCl\t1\t1\nK\t1\t1\n");
  const std::string data = dir.write("data.tsv",
                                     "<script>alert('t')</script>\t\nId<&>\tN<a>\tu\tCl\tu\tK&\tu\n"
                                     "d\"1<x>&\t2\t0.1\t1\t0.1\t1.5\t0.1\n"
                                     "d2\t1\t0.1\t3\t0.1\t2\t0.1\n"
                                     "d3\t4\t0.2\t0.5\t0.1\t2.2\t0.2\n"
                                     "d4\xff\t0.3\t0.1\t0.2\t0.1\t0.3\t0.1\n");
  RunResult r = run_program(kTarnok, {"--passes", "3", "--report", dir.file("out"), "--total", "K&", "n", profile, form,
                                      data, dir.file("result.tsv")});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> files = {dir.file("out/report.html")};
  for (const std::string& name : list_dir(dir.file("out/figures"))) files.push_back(dir.file("out/figures/" + name));
  for (const std::string& file : files) {
    const std::string text = read_file(file);
    for (const char* raw : {"<script", "<b>", "N<a>", "<x>", "Id<&>", "K&\t", "K&<", "&amp;lt;"}) {
      EXPECT_EQ(text.find(raw), std::string::npos) << file << ": " << raw;
    }
  }
  const std::string html = read_file(dir.file("out/report.html"));
  for (const char* escaped : {"&lt;script&gt;alert(&#39;t&#39;)&lt;/script&gt;", "&lt;b&gt;A&amp;amp;", "B&quot;&#39;",
                              "N&lt;a&gt;", "d&quot;1&lt;x&gt;&amp;", "d4\xef\xbf\xbd"}) {
    EXPECT_NE(html.find(escaped), std::string::npos) << escaped;
  }
  expect_well_formed(dir.file("out"));
}

TEST(ReportProgram, AFolderThatCannotBeUsedEndsTheRunBeforeTheFit) {
  struct Case {
    std::vector<std::string> options;  // {} placeholders: "@" is the scratch folder
    std::string message;
  };
  TempDir dir;
  const std::string plain = dir.write("plain", "x");
  std::filesystem::create_directory(dir.file("in"));
  const std::string data = dir.write("in/records.tsv", read_file(kExample + "data.tsv"));
  const Case cases[] = {
      {{"--report", plain}, "Error: Can't create the report folder " + plain + "!\n"},
      {{"--report", plain + "/sub"}, "Error: Can't create the report folder " + plain + "/sub!\n"},
      {{"--report", dir.file("r"), "--total", "PM10"},
       "Error: --total PM10 is not a variable of " + kExample + "profile.tsv!\n"},
      {{"--total", "Mass"}, "Error: --total needs --report DIR!\n"},
      {{"--report", dir.file("in")},
       "Error: The report file " + dir.file("in") + "/records.tsv is the input file " + data + "; it would be overwritten!\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"n", kExample + "profile.tsv", kExample + "form.tsv", data, dir.file("result.tsv")};
    RunResult r = run_program(kTarnok, with_options(with_options({"--passes", "5"}, c.options), args));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\n2.96"), std::string::npos) << "no pass may run";
    EXPECT_FALSE(file_exists(dir.file("result.tsv")));
  }
  EXPECT_TRUE(read_file(data) == read_file(kExample + "data.tsv")) << "the input was changed";
}

// The figures are checked before the fit like every other file of the folder: a
// figure the run would draw may not replace the data file or the result, while a
// figure name the run would not draw (the bootstrap's, without --bootstrap) is no
// concern.
TEST(ReportProgram, AFigurePathThatIsAnInputIsRefusedBeforeTheFit) {
  struct Case {
    std::vector<std::string> options;
    std::string data_at;    // where the data file is put, relative to the scratch folder
    std::string result_at;  // where the result goes
    std::string message;    // "" when the run goes ahead; @ is the scratch folder
  };
  const Case cases[] = {
      {{}, "out/figures/profile_03.svg", "result.tsv",
       "Error: The report file @/out/figures/profile_03.svg is the input file @/out/figures/profile_03.svg; it would "
       "be overwritten!\n"},
      {{"--total", "Mass"}, "out/figures/apportionment.svg", "result.tsv",
       "Error: The report file @/out/figures/apportionment.svg is the input file @/out/figures/apportionment.svg; it "
       "would be overwritten!\n"},
      {{}, "data.tsv", "out/figures/residuals_13.svg",
       "Error: The report file @/out/figures/residuals_13.svg is the result file @/out/figures/residuals_13.svg; it would be "
       "overwritten!\n"},
      {{"--bootstrap", "2"}, "out/figures/bootstrap_7.svg", "result.tsv",
       "Error: The report file @/out/figures/bootstrap_7.svg is the input file @/out/figures/bootstrap_7.svg; it would "
       "be overwritten!\n"},
      {{}, "out/figures/bootstrap_7.svg", "result.tsv", ""},
  };
  const std::string data_text = read_file(kExample + "data.tsv");
  for (const Case& c : cases) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("out/figures"));
    const std::string data = dir.write(c.data_at, data_text);
    const std::string result = dir.file(c.result_at);
    std::vector<std::string> args = with_options({"--passes", "5", "--report", dir.file("out")}, c.options);
    args = with_options(args, {"n", kExample + "profile.tsv", kExample + "form.tsv", data, result});
    const RunResult r = run_program(kTarnok, args);
    std::string message = c.message;
    for (std::size_t at = message.find('@'); at != std::string::npos; at = message.find('@', at)) {
      message.replace(at, 1, dir.path());
    }
    EXPECT_EQ(read_file(data), data_text) << c.data_at << ": the data file was changed";
    if (message.empty()) {
      EXPECT_EQ(r.status, 0) << r.out;
      EXPECT_TRUE(file_exists(result));
      continue;
    }
    EXPECT_EQ(r.status, 1) << c.data_at;
    // The message follows the heading at once: no pass ran.
    EXPECT_NE(r.out.find("Chi2/ny\tny\n\n" + message), std::string::npos) << r.out;
    EXPECT_FALSE(file_exists(result)) << c.result_at;
  }
}

// tarnok report DIR draws the page from the folder's own files: without options the
// same page and figures as the fit wrote, byte for byte (the tables of starts and
// bootstrap included); with --names and --total the new names and total, and none
// of the old names. The fit's --names names the factors of its own run.
TEST(ReportProgram, RedrawGivesTheFitsPageAndAppliesNamesAndTotal) {
  TempDir dir;
  const std::string report = dir.file("report");
  RunResult fit = run_program(kTarnok, with_options({"--passes", "20", "--starts", "2", "--bootstrap", "3", "--report",
                                                     report, "--total", "Mass"},
                                                    example_args(dir.file("result.tsv"))));
  ASSERT_EQ(fit.status, 0) << fit.out;
  const std::vector<std::string> figures = list_dir(report + "/figures");
  std::vector<std::string> written = {read_file(report + "/report.html")};
  for (const std::string& name : figures) written.push_back(read_file(report + "/figures/" + name));

  RunResult again = run_program(kTarnok, {"report", report});
  ASSERT_EQ(again.status, 0) << again.out;
  EXPECT_EQ(list_dir(report + "/figures"), figures);
  EXPECT_EQ(read_file(report + "/report.html"), written[0]);
  for (std::size_t k = 0; k < figures.size(); ++k) {
    EXPECT_EQ(read_file(report + "/figures/" + figures[k]), written[k + 1]) << figures[k];
  }

  const std::string names = "S1,S2,S3,S4,S5,S6,S7";
  RunResult renamed = run_program(kTarnok, {"report", "--names", names, "--total", "SO4", report});
  ASSERT_EQ(renamed.status, 0) << renamed.out;
  const std::string html = read_file(report + "/report.html");
  EXPECT_NE(html.find("Apportionment of SO4"), std::string::npos);
  EXPECT_NE(html.find("<th>r S7</th>"), std::string::npos);
  const std::string old_name = cells_of(lines_of(read_file(kExample + "profile.tsv"))[0]).back();
  EXPECT_EQ(html.find(old_name), std::string::npos) << old_name;

  struct Refusal {
    std::vector<std::string> args;
    std::string message;
  };
  const Refusal refusals[] = {
      {{"report", "--names", "A,B", report}, "Error: --names A,B: 2 names for 7 factors!\n"},
      {{"report", "--total", "Iron", report}, "Error: --total Iron is not a variable of the run!\n"},
      {{"report", dir.file("none")}, "Error: Can't read the report file " + dir.file("none") + "/run.json!\n"},
  };
  for (const Refusal& r : refusals) {
    RunResult refused = run_program(kTarnok, r.args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, r.message);
  }

  // A species table that cannot be read ends the run before the fit: no result.
  RunResult no_units = run_program(kTarnok, with_options({"--passes", "5", "--report", dir.file("r2"), "--units",
                                                          dir.file("none.tsv")},
                                                         example_args(dir.file("r2.tsv"))));
  EXPECT_EQ(no_units.status, 1);
  EXPECT_NE(no_units.out.find("Error: Can't read the species table " + dir.file("none.tsv") + "!\n"), std::string::npos);
  EXPECT_FALSE(file_exists(dir.file("r2.tsv")));

  RunResult named = run_program(kTarnok, with_options({"--passes", "5", "--names", names},
                                                      example_args(dir.file("named.tsv"))));
  ASSERT_EQ(named.status, 0) << named.out;
  EXPECT_NE(read_file(dir.file("named.tsv")).find("S1\tS2\tS3\tS4\tS5\tS6\tS7"), std::string::npos);
}

namespace {

// Every file under `dir` with its bytes, by its path relative to `dir`.
std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::exists(dir)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string rel = std::filesystem::relative(entry.path(), dir).string();
    files[rel] = entry.is_directory() ? "<folder>" : read_file(entry.path().string());
  }
  return files;
}

// A file system of `size` mounted at `path` for the life of the object; mounted()
// is false where the machine does not allow it (not root, or in a container).
class SmallDisk {
 public:
  SmallDisk(const std::string& path, const std::string& size) : path_(path) {
    std::filesystem::create_directories(path);
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  // Fills the file system with the file `filler` but for about `free` bytes.
  void fill_leaving(std::uintmax_t free, const std::string& filler) {
    std::FILE* f = std::fopen(filler.c_str(), "wb");
    const std::string block(4096, 'x');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    std::fclose(f);
    const std::uintmax_t size = std::filesystem::file_size(filler);
    std::filesystem::resize_file(filler, size > free ? size - free : 0);
  }
  // Makes the file system read-only.
  bool make_read_only() {
    return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  std::string path_;
  bool mounted_ = false;
};

}  // namespace

// A report that cannot be written whole leaves the report folder as it was (or
// leaves none), and says what was replaced and what was kept; what can be known
// before the fit is refused before it.
TEST(ReportProgram, AFailedReportLeavesTheFolderAsItWas) {
  struct Case {
    const char* name;
    bool earlier_report;   // DIR holds the report of an earlier run
    const char* disk;      // DIR's parent is a file system of this size, filled but for 160 KiB ("": none)
    bool figures_read_only;
    bool report_is_result;  // --report names the result path
    std::string last_line;  // @ is DIR, # the result; a prefix when it ends in "..."
    bool fitted;            // the fit ran and the result was replaced
  };
  const Case cases[] = {
      {"full disk", true, "2m", false, false,
       "Error: Can't write @/...(No space left on device)! The result table # was replaced; the report folder @ is "
       "unchanged.",
       true},
      {"full disk, new folder", false, "2m", false, false,
       "Error: Can't write @/...(No space left on device)! The result table # was replaced; no report was written.",
       true},
      {"read-only figures", true, "", true, false, "Reason: Read-only file system.", false},
      {"report at the result's path", false, "", false, true,
       "Error: The report folder @ is the result file #; they need different names!", false},
  };
  const std::string earlier_result = "an earlier result\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string parent = dir.file("disk");
    std::filesystem::create_directories(parent);
    const std::string report = parent + "/rep";
    const std::string result = c.report_is_result ? report : dir.write("result.tsv", earlier_result);
    const std::vector<std::string> args =
        with_options({"--passes", "5", "--total", "Mass", "--report", report}, example_args(result));
    std::optional<SmallDisk> disk;
    if (*c.disk != '\0') {
      disk.emplace(parent, c.disk);
      if (!disk->mounted()) GTEST_SKIP() << "a small file system cannot be mounted here (needs root)";
    }
    if (c.earlier_report) {
      ASSERT_EQ(run_program(kTarnok, with_options({"--passes", "2"}, args)).status, 0);
      dir.write("result.tsv", earlier_result);
    }
    if (disk) disk->fill_leaving(160 * 1024, parent + "/filler");
    std::optional<SmallDisk> figures;
    if (c.figures_read_only) {
      figures.emplace(report + "/figures", "1m");
      if (!figures->mounted()) GTEST_SKIP() << "a read-only file system cannot be mounted here (needs root)";
      ASSERT_TRUE(figures->make_read_only());
    }
    const auto before = snapshot(parent);
    const RunResult r = run_program(kTarnok, args);
    EXPECT_EQ(r.status, 1);
    std::string expected = c.last_line;
    for (std::size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, report);
    for (std::size_t at; (at = expected.find('#')) != std::string::npos;) expected.replace(at, 1, result);
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_FALSE(lines.empty());
    const std::size_t dots = expected.find("...");
    if (dots == std::string::npos) {
      EXPECT_EQ(lines.back(), expected);
    } else {
      EXPECT_EQ(lines.back().substr(0, dots), expected.substr(0, dots)) << lines.back();
      const std::string tail = expected.substr(dots + 3);
      EXPECT_TRUE(lines.back().size() > tail.size() &&
                  lines.back().compare(lines.back().size() - tail.size(), tail.size(), tail) == 0)
          << lines.back();
    }
    EXPECT_EQ(r.out.find("\n2.96") == std::string::npos, !c.fitted) << "a pass ran: " << c.fitted;
    if (!c.report_is_result) {
      EXPECT_EQ(read_file(result) != earlier_result, c.fitted);
    }
    // The folder as it was, nothing beside it, and no folder made.
    EXPECT_TRUE(snapshot(parent) == before);
  }
}

// A report put in place keeps what writing into the old folder kept: files of the
// user's own, one in figures/ too, an earlier run's table this run does not write,
// and the result table written into the folder; a folder reached by a link stays
// where the link leads.
TEST(ReportProgram, TheNewReportKeepsTheFolderOthersFiles) {
  struct Case {
    const char* name;
    bool linked;  // --report names a link to the folder
  };
  for (const Case& c : {Case{"folder", false}, Case{"link to a folder", true}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::filesystem::create_directories(dir.file("real/figures"));
    dir.write("real/notes.txt", "the analyst's notes\n");
    dir.write("real/figures/own.svg", "<svg/>\n");
    dir.write("real/starts.tsv", "an earlier run's starts\n");
    dir.write("real/run.json", "{}\n");
    std::string report = dir.file("real");
    if (c.linked) {
      std::filesystem::create_directory_symlink(report, dir.file("link"));
      report = dir.file("link");
    }
    const RunResult r =
        run_program(kTarnok, with_options({"--passes", "3", "--report", report}, example_args(report + "/r.tsv")));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(dir.file("real/notes.txt")), "the analyst's notes\n");
    EXPECT_EQ(read_file(dir.file("real/figures/own.svg")), "<svg/>\n");
    EXPECT_EQ(read_file(dir.file("real/starts.tsv")), "an earlier run's starts\n");
    EXPECT_NE(read_file(dir.file("real/run.json")), "{}\n");
    EXPECT_TRUE(file_exists(dir.file("real/r.tsv")));
    EXPECT_TRUE(file_exists(dir.file("real/figures/profile_01.svg")));
    EXPECT_EQ(std::filesystem::is_symlink(dir.file("link")), c.linked);
    const std::vector<std::string> beside = c.linked ? std::vector<std::string>{"link", "real"}
                                                     : std::vector<std::string>{"real"};
    EXPECT_EQ(list_dir(dir.path()), beside);
  }
}
