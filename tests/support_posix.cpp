// Scratch folders and running the built program on POSIX systems.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "support.h"

std::string make_temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarnok-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& stdin_path) {
  TempDir scratch;
  std::string out_path = scratch.file("stdout");
  std::string err_path = scratch.file("stderr");
  pid_t pid = fork();
  if (pid == 0) {
    std::freopen(stdin_path.c_str(), "r", stdin);
    std::freopen(out_path.c_str(), "w", stdout);
    std::freopen(err_path.c_str(), "w", stderr);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  RunResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}
