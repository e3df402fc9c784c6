// Starts and bootstrap through the built program: the best start is the table of
// that start run alone, every thread count gives the same bytes, and the options
// that cannot work are refused before any fitting.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <thread>

#include "support.h"

namespace {

const std::string kTarnok = TARNOK_BINARY;
const std::string kExample = std::string(TARNOK_EXAMPLES) + "/st_louis/";

struct EnsembleRun {
  RunResult program;
  std::string result, starts, profile, bootstrap, mapping;
};

// `starts`: the option of the kind of starts, "--starts" or "--fresh-starts".
EnsembleRun run_ensemble(const TempDir& dir, const std::string& starts, const std::string& threads) {
  const std::string report = dir.file("report" + starts + threads);
  const std::string result = dir.file("result" + starts + threads + ".tsv");
  EnsembleRun run;
  run.program = run_program(kTarnok, {"--threads", threads, "--passes", "25", starts, "3", "--seed", "7",
                                      "--bootstrap", "4", "--report", report, "n", kExample + "profile.tsv",
                                      kExample + "form.tsv", kExample + "data.tsv", result});
  run.result = read_file(result);
  run.starts = read_file(report + "/starts.tsv");
  run.profile = read_file(report + "/best_start_profile.tsv");
  run.bootstrap = read_file(report + "/bootstrap.tsv");
  run.mapping = read_file(report + "/bootstrap_mapping.tsv");
  // The echo names the result file; the rest of the console must agree.
  run.program.out.erase(0, run.program.out.find("Chi2/ny"));
  return run;
}

}  // namespace

TEST(EnsembleProgram, BestStartIsALoneRunAndThreadsGiveTheSameBytes) {
  for (const std::string starts : {"--starts", "--fresh-starts"}) {
    SCOPED_TRACE(starts);
    TempDir dir;
    const EnsembleRun one = run_ensemble(dir, starts, "1");
    ASSERT_EQ(one.program.status, 0) << one.program.out;
    const std::vector<std::string> console = lines_of(one.program.out);
    ASSERT_GE(console.size(), 14u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(console[static_cast<std::size_t>(2 + i)].rfind("Start " + std::to_string(i + 1) + " of 3: chi2 ", 0),
                0u)
          << console[static_cast<std::size_t>(2 + i)];
    }
    EXPECT_EQ(console[5].rfind("Best start: ", 0), 0u) << console[5];
    // Fresh starts are followed by how stable their answer is.
    const std::size_t next = starts == "--fresh-starts" ? 7 : 6;
    if (next == 7) {
      EXPECT_EQ(console[6].rfind("Stability: ", 0), 0u) << console[6];
    }
    EXPECT_EQ(console[next].rfind("Bootstrap: 4 replicates in blocks of ", 0), 0u) << console[next];
    EXPECT_EQ(lines_of(one.starts).size(), 4u);
    // The page gives the stability line above the table, as one line of text.
    const std::string page = read_file(dir.file("report" + starts + "1") + "/report.html");
    const std::size_t stability = page.find("<p>Stability: ");
    ASSERT_NE(stability, std::string::npos);
    EXPECT_EQ(page.substr(page.find("</p>", stability) - 2, 6), "%.</p>");
    EXPECT_EQ(lines_of(one.mapping).size(), 8u);
    EXPECT_EQ(lines_of(one.bootstrap).size(), 1u + 7u * 13u);

    for (const std::string threads : {"2", "3"}) {
      const EnsembleRun other = run_ensemble(dir, starts, threads);
      EXPECT_EQ(other.program.status, 0);
      EXPECT_EQ(other.program.out, one.program.out) << threads;
      EXPECT_EQ(other.result, one.result) << threads;
      EXPECT_EQ(other.starts, one.starts) << threads;
      EXPECT_EQ(other.profile, one.profile) << threads;
      EXPECT_EQ(other.bootstrap, one.bootstrap) << threads;
      EXPECT_EQ(other.mapping, one.mapping) << threads;
    }

    // The best start run alone from the profiles it began from writes the same table.
    const std::string profile = dir.write("best.tsv", one.profile);
    const std::string lone = dir.file("lone.tsv");
    const RunResult alone = run_program(
        kTarnok, {"--passes", "25", "n", profile, kExample + "form.tsv", kExample + "data.tsv", lone});
    EXPECT_EQ(alone.status, 0);
    EXPECT_EQ(read_file(lone), one.result);
  }
}

TEST(EnsembleProgram, FreshStartIsTheProfilePrepareWritesForItsSeed) {
  TempDir dir;
  const std::string measured = kExample + "measured/";
  auto prepare = [&](const std::string& seed) {
    const std::string out = dir.file("prepared" + seed);
    const RunResult run = run_program(kTarnok, {"prepare", "--uncertainties", measured + "uncertainties.csv",
                                                "--total", "Mass", "--factors", "4", "--seed", seed,
                                                measured + "concentrations.csv", out});
    EXPECT_EQ(run.status, 0) << run.out;
    return out + "/";
  };
  const std::string given = prepare("2");
  // The fit is given seed 2's profiles with the row of Cu held: a fresh start
  // with seed S is prepare's profile file of seed S, and the held row stays.
  const std::string form = read_file(given + "form.tsv");
  const std::size_t cu = form.find("\nCu\t") + 1;
  const std::string held_form = dir.write("held_form.tsv", form.substr(0, cu) + "Cu\t0\t0\t0\t0" +
                                                                form.substr(form.find('\n', cu)));
  const std::vector<std::string> given_rows = lines_of(read_file(given + "profile.tsv"));
  for (const std::string seed : {"1", "5"}) {
    const std::string report = dir.file("report" + seed);
    const RunResult run = run_program(kTarnok, {"--fresh-starts", "1", "--seed", seed, "--passes", "1", "--report",
                                                report, "n", given + "profile.tsv", held_form, given + "data.tsv",
                                                dir.file("result.tsv")});
    ASSERT_EQ(run.status, 0) << run.out;
    std::vector<std::string> expected = lines_of(read_file(prepare(seed) + "profile.tsv"));
    ASSERT_EQ(expected.size(), given_rows.size());
    for (std::size_t row = 0; row < expected.size(); ++row) {
      if (expected[row].rfind("Cu\t", 0) == 0) expected[row] = given_rows[row];
    }
    EXPECT_EQ(lines_of(read_file(report + "/best_start_profile.tsv")), expected) << seed;
  }
}

TEST(EnsembleProgram, OptionsThatCannotWorkAreRefusedBeforeTheFit) {
  TempDir dir;
  const std::string blocked = dir.write("a_file", "");
  const std::string locked = dir.file("locked");
  ::mkdir(locked.c_str(), 0555);
  struct Case {
    std::vector<std::string> options;
    std::string message;  // the last line of the output
  };
  const Case cases[] = {
      {{"--starts", "3"}, "Error: --starts needs --passes or --converge, so that every fit ends by itself!"},
      {{"--fresh-starts", "3"},
       "Error: --fresh-starts needs --passes or --converge, so that every fit ends by itself!"},
      {{"--passes", "5", "--starts", "2", "--fresh-starts", "2"}, "Error: give --starts or --fresh-starts, not both!"},
      {{"--passes", "5", "--bootstrap", "3"}, "Error: --bootstrap needs --report DIR for its tables!"},
      {{"--passes", "5", "--block", "3"}, "Error: --block needs --bootstrap!"},
      {{"--passes", "5", "--starts", "0"}, "Error: --starts needs a whole number of at least 1, not '0'!"},
      {{"--min-r", "1.5"}, "Error: --min-r needs a number above 0 and at most 1, not '1.5'!"},
      {{"--passes", "5", "--starts", "2", "--report", blocked}, "Reason: it is a file, not a folder."},
      // The result would be overwritten by the table of the starts.
      {{"--passes", "5", "--starts", "2", "--report", dir.path() + "/./"},
       "Error: The report file " + dir.path() + "/./starts.tsv is the result file " + dir.file("starts.tsv") +
           "; it would be overwritten!"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"n", kExample + "profile.tsv", kExample + "form.tsv", kExample + "data.tsv",
                             dir.file(c.message.find("report file") != std::string::npos ? "starts.tsv" : "result.tsv")});
    const RunResult run = run_program(kTarnok, args);
    EXPECT_EQ(run.status, 1) << c.message;
    const std::vector<std::string> lines = lines_of(run.out);
    ASSERT_FALSE(lines.empty()) << c.message;
    EXPECT_EQ(lines.back(), c.message);
    EXPECT_EQ(run.out.find("Start 1"), std::string::npos) << c.message;
    EXPECT_FALSE(file_exists(dir.file("result.tsv")) || file_exists(dir.file("starts.tsv"))) << c.message;
  }
  // A folder that cannot be written is refused before the fit (not as root, who
  // may write anywhere).
  if (::geteuid() != 0) {
    const RunResult run = run_program(kTarnok, {"--passes", "5", "--starts", "2", "--report", locked, "n",
                                                kExample + "profile.tsv", kExample + "form.tsv",
                                                kExample + "data.tsv", dir.file("result.tsv")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.find("Start 1"), std::string::npos);
    const std::vector<std::string> lines = lines_of(run.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Error: Can't create " + locked + "/run.json!");
    EXPECT_EQ(lines.back(), "Reason: Permission denied.");
  }
  ::chmod(locked.c_str(), 0755);
}

TEST(EnsembleProgram, CtrlCStopsEveryStartAndKeepsWhatWasReached) {
  // Four starts on two threads with a pass limit far away: Ctrl-C stops the two
  // running ones, the other two are not begun, and the better of the two is written.
  TempDir dir;
  const std::string out = dir.file("stdout");
  const std::string result = dir.file("result.tsv");
  const std::string report = dir.file("report");
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDOUT_FILENO);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
    execl(TARNOK_BINARY, TARNOK_BINARY, "--passes", "10000000", "--threads", "2", "--starts", "4", "--report",
          report.c_str(), "n", (kExample + "profile.tsv").c_str(), (kExample + "form.tsv").c_str(),
          (kExample + "data.tsv").c_str(), result.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // The temporary result file is made just before the fit begins.
  for (int i = 0; i < 3000; ++i) {
    bool fitting = false;
    for (const std::string& name : list_dir(dir.path())) fitting = fitting || name.rfind("result.tsv.tmp", 0) == 0;
    if (fitting) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(pid, SIGINT);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 0);
  const std::string console = read_file(out);
  EXPECT_NE(console.find("Start 1 of 4: chi2 "), std::string::npos) << console;
  EXPECT_NE(console.find("Stopped: interrupted after "), std::string::npos) << console;
  EXPECT_NE(console.find("Start 4 of 4: not run (the fit was stopped).\n"), std::string::npos) << console;
  EXPECT_NE(console.find("2 fitted, 0 failed, 2 not run.\n"), std::string::npos) << console;
  EXPECT_FALSE(read_file(result).empty());
  EXPECT_EQ(lines_of(read_file(report + "/starts.tsv")).size(), 5u);
}

TEST(EnsembleProgram, CtrlCDuringTheBootstrapIsStatedInTheReport) {
  // 200 replicates on two threads: Ctrl-C once the result table is written stops
  // the two running replicates part-way; they are not counted as fitted, and the
  // run record and the page say how far the bootstrap came.
  TempDir dir;
  const std::string out = dir.file("stdout");
  const std::string result = dir.file("result.tsv");
  const std::string report = dir.file("report");
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDOUT_FILENO);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
    execl(TARNOK_BINARY, TARNOK_BINARY, "--passes", "200", "--threads", "2", "--bootstrap", "200", "--report",
          report.c_str(), "n", (kExample + "profile.tsv").c_str(), (kExample + "form.tsv").c_str(),
          (kExample + "data.tsv").c_str(), result.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 6000 && !file_exists(result); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGINT);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 0);
  const std::string console = read_file(out);
  EXPECT_NE(console.find("stopped part-way (not used)"), std::string::npos) << console;
  const nlohmann::json record = nlohmann::json::parse(read_file(report + "/run.json"));
  ASSERT_TRUE(record.contains("bootstrap_stopped")) << record.dump();
  const nlohmann::json& cut = record["bootstrap_stopped"];
  EXPECT_EQ(cut["replicates"], 200);
  EXPECT_GE(cut["stopped_part_way"].get<int>(), 1);
  EXPECT_GE(cut["not_run"].get<int>(), 1);
  EXPECT_EQ(cut["fitted"].get<int>() + cut["failed"].get<int>() + cut["stopped_part_way"].get<int>() +
                cut["not_run"].get<int>(),
            200);
  const std::string page = read_file(report + "/report.html");
  EXPECT_NE(page.find("The bootstrap was stopped: of 200 replicates"), std::string::npos);
}
