// The fit on a real terminal: one key press stops it, and the terminal comes back
// as it was, with the key discarded rather than passed on to the shell.
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support.h"

namespace {
const std::string kTarnok = TARNOK_BINARY;
const std::string kExample = std::string(TARNOK_EXAMPLES) + "/st_louis/";
}  // namespace

TEST(Terminal, OneKeyStopsTheFitAndTheTerminalIsRestored) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  struct termios before {};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  ASSERT_TRUE((before.c_lflag & ICANON) && (before.c_lflag & ECHO));

  TempDir dir;
  std::string console = dir.file("console");
  std::vector<std::string> args = {"n", kExample + "profile.tsv", kExample + "form.tsv", kExample + "data.tsv",
                                   dir.file("result.tsv")};
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, STDIN_FILENO);
    close(master);
    freopen(console.c_str(), "w", stdout);
    std::vector<char*> argv = {const_cast<char*>(kTarnok.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(kTarnok.c_str(), argv.data());
    _exit(127);
  }
  // Wait for the fit to run (two statistics lines), then press a key.
  for (int i = 0; i < 600; ++i) {
    std::string out = read_file(console);
    if (lines_of(out).size() >= 13) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  struct termios during {};
  ASSERT_EQ(tcgetattr(slave, &during), 0);
  EXPECT_FALSE(during.c_lflag & ICANON) << "single keys during the fit";
  EXPECT_FALSE(during.c_lflag & ECHO) << "no echo during the fit";
  ASSERT_EQ(write(master, "q", 1), 1);

  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(file_exists(dir.file("result.tsv")));

  struct termios after {};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  int waiting = -1;
  ASSERT_EQ(ioctl(slave, FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 0) << "the key must not reach the shell";
  close(master);
  close(slave);
}
