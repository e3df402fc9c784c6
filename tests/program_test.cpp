// End-to-end tables: the built program with its arguments and input files, checked
// by exact standard output, exit status and the files it leaves.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "support.h"

namespace {

const std::string kTarnok = TARNOK_BINARY;
const std::string kExample = std::string(TARNOK_EXAMPLES) + "/st_louis/";

std::string echo_of(const std::vector<std::string>& args) {
  std::string out = "\n\n\n";
  for (const std::string& a : args) out += a + "\n";
  return out + "\nChi2/ny\tny\n\n";
}

// A small problem: two factors, three variables, six records.
struct SmallFiles {
  TempDir dir;
  std::string profile = dir.write("profile.tsv", "\tA\tB\nNa\t1\t0.2\nCl\t0.1\t1\nK\t0.5\t0.5\n");
  std::string form = dir.write("form.tsv", "\tA\tB\nNa\t1\t1\nCl\t1\t1\nK\t1\t1\n");
  std::string data = dir.write("data.tsv",
                               "Small test\t\nDate\tNa\tu\tCl\tu\tK\tu\n"
                               "d1\t2\t0.1\t1\t0.1\t1.5\t0.1\n"
                               "d2\t1\t0.1\t3\t0.1\t2\t0.1\n"
                               "d3\t4\t0.2\t0.5\t0.1\t2.2\t0.2\n"
                               "d4\t0.3\t0.1\t0.2\t0.1\t0.3\t0.1\n"
                               "d5\t2\t0.1\t2\t0.1\t2\t0\n"
                               "d6\t1\t0.1\t1\t0.1\t1\t0.1\n");
  std::string result = dir.file("result.tsv");
  std::vector<std::string> args(const std::string& mode = "n") const { return {mode, profile, form, data, result}; }
};

std::vector<std::string> with_passes(long passes, std::vector<std::string> args) {
  args.insert(args.begin(), {"--passes", std::to_string(passes)});
  return args;
}

}  // namespace

TEST(Program, ArgumentAndModeErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const std::string count = "Wrong number of arguments (O/N profile form data result [rotate])\n";
  const Case cases[] = {
      // The fixed line, then what was given.
      {{}, count + "0 arguments after the options, where 5 or 6 are needed\n"},
      {{"n", "a", "b", "c"}, count + "4 arguments after the options, where 5 or 6 are needed: 'n' 'a' 'b' 'c'\n"},
      {{"n", "a", "b", "c", "d", "e", "f"},
       count + "7 arguments after the options, where 5 or 6 are needed: 'n' 'a' 'b' 'c' 'd' 'e' 'f'\n"},
      {{"n"}, count + "1 argument after the options, where 5 or 6 are needed: 'n'\n"},
      {{"x", "a", "b", "c", "d"}, "Wrong argument! Not x, but N(ormal) or O(ffset).\n"},
      {{"", "a", "b", "c", "d"}, "Wrong argument! Not , but N(ormal) or O(ffset).\n"},
      {{"--bogus", "n", "a", "b", "c", "d"}, "Error: Unknown option --bogus! See tarnok --help.\n"},
      {{"--passes", "-3", "n", "a", "b", "c", "d"}, "Error: --passes needs a whole number of at least 0, not '-3'!\n"},
      {{"--passes", "x", "n", "a", "b", "c", "d"}, "Error: --passes needs a whole number of at least 0, not 'x'!\n"},
      {{"--passes"}, "Error: --passes needs a value!\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run_program(kTarnok, c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, 1);
  }
}

TEST(Program, HelpAndVersion) {
  RunResult help = run_program(kTarnok, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: tarnok [options] O/N profile form data result [rotate]"), std::string::npos);
  EXPECT_NE(help.out.find("--passes N"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  EXPECT_NE(help.out.find("tarnok prepare --help"), std::string::npos);
  // Every option is described once.
  for (const char* option : {"  --report DIR", "  --passes N", "  --seed S"}) {
    const std::size_t first = help.out.find(option);
    EXPECT_NE(first, std::string::npos) << option;
    EXPECT_EQ(help.out.find(option, first + 1), std::string::npos) << option;
  }
  RunResult version = run_program(kTarnok, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tarnok ", 0), 0u);
}

TEST(Program, ArgumentsAreEchoedBeforeAnyFileIsOpened) {
  TempDir dir;
  // Any word starting with o selects offset mode; the options are not echoed.
  std::vector<std::string> args = {"offset", dir.file("nope"), "f", "d", "r", "abc"};
  RunResult r = run_program(kTarnok, with_passes(1, args));
  EXPECT_EQ(r.out, echo_of(args) + "Error: Can't find " + dir.file("nope") + "!\n");
  EXPECT_EQ(r.status, 1);
}

TEST(Program, FitsTheBundledExampleAndWritesTheWholeTable) {
  TempDir dir;
  std::vector<std::string> args = {"n", kExample + "profile.tsv", kExample + "form.tsv", kExample + "data.tsv",
                                   dir.file("result.tsv")};
  RunResult r = run_program(kTarnok, with_passes(25, args));
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> console = lines_of(r.out.substr(echo_of(args).size()));
  ASSERT_EQ(console.size(), 25u);
  for (const std::string& line : console) EXPECT_EQ(cells_of(line).size(), 3u) << line;

  std::vector<std::string> lines = lines_of(read_file(dir.file("result.tsv")));
  const std::size_t nrec = 418, nvar = 13, nfakt = 7;
  ASSERT_EQ(lines.size(), 2 + nrec + 2 + nvar + 1);
  EXPECT_EQ(lines[0], "St. Louis hourly PM2.5 species 2001-2002, EPA example data");
  EXPECT_EQ(cells_of(lines[1]).front(), "Date");
  EXPECT_EQ(cells_of(lines[1]).back(), "Residue");
  EXPECT_EQ(cells_of(lines[2]).front(), "6/22/2001 0:00");
  for (std::size_t s = 0; s < nrec; ++s) EXPECT_EQ(cells_of(lines[2 + s]).size(), nfakt + 2);
  double chi_sum = 0;
  for (std::size_t v = 0; v < nvar; ++v) {
    std::vector<std::string> row = cells_of(lines[2 + nrec + 2 + v]);
    ASSERT_EQ(row.size(), 3 * nfakt + 4);
    chi_sum += std::stod(row[nfakt + 2]);
  }
  // The totals line holds chi2 and ny of the final contribution step; the
  // per-variable chi-squares add up to it within their printed precision.
  std::vector<std::string> totals = cells_of(lines.back());
  ASSERT_EQ(totals.size(), nfakt + 4);
  double chi2 = std::stod(totals[nfakt + 2]);
  EXPECT_NEAR(chi_sum, chi2, chi2 * 1e-5);
  EXPECT_GT(std::stoi(totals[nfakt + 3]), 0);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"result.tsv"});
}

TEST(Program, OffsetModeAndRotateRun) {
  SmallFiles files;
  std::vector<std::string> args = files.args("O");
  args.push_back("0.5");
  RunResult r = run_program(kTarnok, with_passes(3, args));
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> lines = lines_of(read_file(files.result));
  EXPECT_EQ(lines[0], "Small test\trotate=0.5");
  // Offset mode: every record has contribution 1 for the first factor.
  for (int s = 0; s < 6; ++s) EXPECT_EQ(cells_of(lines[static_cast<std::size_t>(2 + s)])[1], "1");
}

TEST(Program, StandardInputThatIsNotATerminalStopsTheFitWithoutHanging) {
  // End of input counts as a key: the fit stops at the start of pass 1, and
  // standard error says why and how to run unattended.
  SmallFiles files;
  RunResult r = run_program(kTarnok, files.args());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, echo_of(files.args()));
  EXPECT_TRUE(file_exists(files.result));
  EXPECT_EQ(r.err,
            "tarnok: the fit stopped after 0 passes because standard input is not a terminal: the end of input, like "
            "a waiting byte, counts as a key press. To run a fit unattended, give --passes N or --converge TOL (see "
            "tarnok --help).\n");
  // A run that ends by itself says nothing of the kind.
  EXPECT_EQ(run_program(kTarnok, with_passes(2, files.args())).err, "");
}

TEST(Program, ResultLocationIsCheckedBeforeTheFit) {
  SmallFiles files;
  std::string plain = files.dir.write("plain", "x");
  // Each with the system's reason.
  const std::pair<std::string, std::string> targets[] = {{files.dir.file("missing/result.tsv"), "No such file or directory"},
                                                         {plain + "/result.tsv", "Not a directory"},
                                                         {files.dir.path(), "Is a directory"},
                                                         {files.dir.path() + "/", "Is a directory"}};
  for (const auto& [target, reason] : targets) {
    std::vector<std::string> args = {"n", files.profile, files.form, files.data, target};
    RunResult r = run_program(kTarnok, with_passes(5, args));
    EXPECT_EQ(r.out, echo_of(args) + "Error: Can't create " + target + "!\nReason: " + reason + ".\n") << target;
    EXPECT_EQ(r.status, 1);
  }
  EXPECT_EQ(list_dir(files.dir.path()),
            (std::vector<std::string>{"data.tsv", "form.tsv", "plain", "profile.tsv"}));
}

TEST(Program, ResultNamingAnInputFileIsRefused) {
  SmallFiles files;
  std::string before = read_file(files.data);
  std::vector<std::string> args = {"n", files.profile, files.form, files.data, files.dir.path() + "/./data.tsv"};
  RunResult r = run_program(kTarnok, with_passes(2, args));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("is the input file"), std::string::npos) << r.out;
  EXPECT_EQ(read_file(files.data), before);
}

TEST(Program, FailedWriteLeavesTheEarlierResultUntouched) {
  TempDir dir;
  std::string result = dir.write("result.tsv", "earlier result\n");
  std::vector<std::string> args = {"--passes", "2", "n", kExample + "profile.tsv", kExample + "form.tsv",
                                   kExample + "data.tsv", result};
  // A file-size limit of 8 KiB lets the console output through but makes the
  // writes of the result table (about 60 KiB) fail part-way, as a full disk would.
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {8192, 8192};
    setrlimit(RLIMIT_FSIZE, &limit);
    RunResult r = run_program(kTarnok, args);
    std::string expected = "Error: Can't write " + result + " (File too large)! Any earlier result file is unchanged.\n";
    bool ok = r.status == 1 && r.out.size() > expected.size() &&
              r.out.compare(r.out.size() - expected.size(), expected.size(), expected) == 0;
    _exit(ok ? 0 : 2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(read_file(result), "earlier result\n");
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"result.tsv"});
}

namespace {

// Starts the program on the example with standard input from a pipe that stays
// open, so the fit runs until it is stopped; returns its pid and the output path.
pid_t start_long_fit(const std::vector<std::string>& args, const std::string& out_path, int* keep_open) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[0], STDIN_FILENO);
    close(fds[1]);
    freopen(out_path.c_str(), "w", stdout);
    std::vector<char*> argv = {const_cast<char*>(kTarnok.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(kTarnok.c_str(), argv.data());
    _exit(127);
  }
  close(fds[0]);
  *keep_open = fds[1];
  return pid;
}

// Waits until the output file holds at least `lines` statistics lines.
void wait_for_passes(const std::string& out_path, std::size_t echo_size, std::size_t lines) {
  for (int i = 0; i < 600; ++i) {
    std::string out = read_file(out_path);
    if (out.size() > echo_size && lines_of(out.substr(echo_size)).size() >= lines) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

int wait_status(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST(Program, DataFileMayVanishDuringTheFit) {
  // The identifiers are kept from the first reading: deleting the data file while
  // the fit runs, then stopping it with a key (a byte on standard input), still
  // gives the whole result with the identifiers as they were read.
  TempDir dir;
  std::string data = dir.file("data.tsv");
  std::string example = read_file(kExample + "data.tsv");
  std::ofstream(data) << example;
  std::vector<std::string> args = {"n", kExample + "profile.tsv", kExample + "form.tsv", data, dir.file("result.tsv")};
  std::string out_path = dir.file("console");
  int input = -1;
  pid_t pid = start_long_fit(args, out_path, &input);
  wait_for_passes(out_path, echo_of(args).size(), 3);
  unlink(data.c_str());
  ASSERT_EQ(write(input, "k", 1), 1);
  EXPECT_EQ(wait_status(pid), 0);
  close(input);
  std::vector<std::string> lines = lines_of(read_file(dir.file("result.tsv")));
  ASSERT_EQ(lines.size(), 2u + 418u + 2u + 13u + 1u);
  std::vector<std::string> records = lines_of(example);
  for (std::size_t s = 0; s < 418; ++s) {
    EXPECT_EQ(cells_of(lines[2 + s])[0], cells_of(records[2 + s])[0]);
  }
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"console", "result.tsv"}));
}

TEST(Program, DeviceAsResultIsWrittenDirectly) {
  // Fitting only to watch the statistics: the table goes to /dev/null, which
  // stays the device it was.
  SmallFiles files;
  std::vector<std::string> args = {"--passes", "3", "n", files.profile, files.form, files.data, "/dev/null"};
  RunResult r = run_program(kTarnok, args);
  EXPECT_EQ(r.status, 0) << r.out;
  struct stat st {};
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}
