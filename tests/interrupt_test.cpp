// Interrupts during a fit that only a key would end: the first Ctrl-C (or SIGTERM,
// or SIGHUP) stops the fit and the result is written whole; a second one ends the
// run at once, leaving an earlier result file as it was and no temporary file.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

const char kEarlier[] = "an earlier result\n";

// The program fitting the bundled example with no pass limit; its standard input
// is a pipe that stays open and silent, so no key ever arrives.
class FittingRun {
 public:
  FittingRun(const TempDir& dir, const std::string& result) : out_(dir.file("stdout")) {
    const std::string ex = std::string(TARNOK_EXAMPLES) + "/st_louis/";
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[0], STDIN_FILENO);
      close(fds[1]);
      int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, STDOUT_FILENO);
      execl(TARNOK_BINARY, TARNOK_BINARY, "n", (ex + "profile.tsv").c_str(), (ex + "form.tsv").c_str(),
            (ex + "data.tsv").c_str(), result.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[0]);
    keyboard_ = fds[1];
  }
  ~FittingRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(keyboard_);
  }

  // Waits until the fit has printed `lines` statistics lines.
  bool wait_for_passes(int lines) {
    for (int i = 0; i < 3000; ++i) {
      const std::string out = read_file(out_);
      std::size_t at = out.find("\nChi2/ny\tny\n\n");
      if (at != std::string::npos && static_cast<int>(lines_of(out.substr(at + 13)).size()) >= lines) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  void send(int sig) { kill(pid_, sig); }

  // Exit status, or 128 + signal.
  int wait() {
    int wstatus = 0;
    waitpid(pid_, &wstatus, 0);
    pid_ = -1;
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  }

 private:
  std::string out_;
  pid_t pid_ = -1;
  int keyboard_ = -1;
};

struct Signal {
  const char* name;
  int number;
};

void PrintTo(const Signal& sig, std::ostream* os) { *os << sig.name; }

class FirstInterrupt : public ::testing::TestWithParam<Signal> {};

TEST_P(FirstInterrupt, StopsTheFitAndWritesTheWholeResult) {
  TempDir dir;
  const std::string result = dir.write("result.tsv", kEarlier);
  FittingRun run(dir, result);
  ASSERT_TRUE(run.wait_for_passes(2));
  run.send(GetParam().number);
  EXPECT_EQ(run.wait(), 0);
  // 2 heading lines, 418 records, 2 profile headings, 13 variables, the totals line.
  const std::vector<std::string> lines = lines_of(read_file(result));
  ASSERT_EQ(lines.size(), 2u + 418u + 2u + 13u + 1u);
  EXPECT_EQ(lines.back().substr(0, 9), "\t\t\t\t\t\t\t\t\t");
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"result.tsv", "stdout"}));
}

INSTANTIATE_TEST_SUITE_P(Signals, FirstInterrupt,
                         ::testing::Values(Signal{"CtrlC", SIGINT}, Signal{"Term", SIGTERM}, Signal{"Hangup", SIGHUP}),
                         [](const ::testing::TestParamInfo<Signal>& param) { return std::string(param.param.name); });

TEST(SecondInterrupt, EndsAtOnceAndLeavesTheEarlierResult) {
  TempDir dir;
  const std::string result = dir.write("result.tsv", kEarlier);
  FittingRun run(dir, result);
  ASSERT_TRUE(run.wait_for_passes(2));
  // Two different signals, so that the second is not merged into the first.
  run.send(SIGTERM);
  run.send(SIGINT);
  const int status = run.wait();
  EXPECT_TRUE(status == 128 + SIGINT || status == 128 + SIGTERM) << status;
  EXPECT_EQ(read_file(result), kEarlier);
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"result.tsv", "stdout"}));
}

// A second Ctrl-C while the report is written (paused after each file by the test
// build's TARNOK_TEST_REPORT_PAUSE_MS) ends the run at once: the report folder is
// the earlier run's, file for file, or there is none where there was none, with no
// temporary folder left beside it and no folder made on the way to it.
TEST(SecondInterrupt, WhileTheReportIsWrittenLeavesTheEarlierReport) {
  struct Case {
    const char* report;   // the report folder in the scratch folder
    bool earlier_report;  // an earlier run wrote a report there
  };
  const Case cases[] = {{"rep", true}, {"rep", false}, {"new/sub/rep", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    TempDir dir;
    const std::string ex = std::string(TARNOK_EXAMPLES) + "/st_louis/";
    const std::string report = dir.file(c.report);
    auto args = [&](const char* passes) {
      return std::vector<std::string>{"--passes", passes, "--bootstrap", "3", "--report", report, "n",
                                      ex + "profile.tsv", ex + "form.tsv", ex + "data.tsv", dir.file("result.tsv")};
    };
    std::vector<std::pair<std::string, std::string>> before;
    if (c.earlier_report) {
      ASSERT_EQ(run_program(TARNOK_BINARY, args("2")).status, 0);
      for (const std::string& name : list_dir(report)) {
        if (name != "figures") before.emplace_back(name, read_file(report + "/" + name));
      }
      for (const std::string& name : list_dir(report + "/figures")) {
        before.emplace_back("figures/" + name, read_file(report + "/figures/" + name));
      }
    }
    const std::vector<std::string> listed = list_dir(dir.path());
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("TARNOK_TEST_REPORT_PAUSE_MS", "100", 1);
      const int out = open(dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, STDOUT_FILENO);
      std::vector<std::string> a = args("5");
      std::vector<char*> argv = {const_cast<char*>(TARNOK_BINARY)};
      for (std::string& arg : a) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(TARNOK_BINARY, argv.data());
      _exit(127);
    }
    // Until the new report is being written beside the folder.
    const std::string parent = report.substr(0, report.rfind('/'));
    bool writing = false;
    for (int i = 0; i < 3000 && !writing; ++i) {
      for (const std::string& name : file_exists(parent) ? list_dir(parent) : std::vector<std::string>{}) {
        writing = writing || (name.rfind("rep.tmp", 0) == 0 && file_exists(parent + "/" + name + "/run.json"));
      }
      if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(writing);
    // Two different signals, so that the second is not merged into the first.
    kill(pid, SIGTERM);
    kill(pid, SIGINT);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    EXPECT_TRUE(status == 128 + SIGINT || status == 128 + SIGTERM) << status;
    // Beside what was there: the result, written before the report, and the console.
    std::vector<std::string> expected = listed;
    expected.insert(expected.end(), {"result.tsv", "stdout"});
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(list_dir(dir.path()), expected);
    if (!c.earlier_report) continue;
    EXPECT_EQ(list_dir(parent), (std::vector<std::string>{"rep", "result.tsv", "stdout"}));
    for (const auto& [name, text] : before) EXPECT_EQ(read_file(report + "/" + name), text) << name;
    EXPECT_EQ(list_dir(report).size() + list_dir(report + "/figures").size() - 1, before.size());
  }
}

}  // namespace
