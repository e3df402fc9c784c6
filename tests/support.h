// Helpers shared by the tests: scratch folders, files made by the test, running
// the built program.
#pragma once

#include <string>
#include <vector>

// Creates a fresh folder under the system's temporary folder and returns its path.
std::string make_temp_dir();

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes `content` to the file `name` in the folder and returns its path.
  std::string write(const std::string& name, const std::string& content) const;
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
// Names of the entries of a folder, sorted.
std::vector<std::string> list_dir(const std::string& path);

struct RunResult {
  int status = -1;      ///< exit status, or 128 + signal
  std::string out;      ///< standard output
  std::string err;      ///< standard error
};

// Runs `program` with `args`, standard input from `stdin_path` (default /dev/null).
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& stdin_path = "/dev/null");

// Splits a text into lines (without their line ends) and a line into tab cells
// (empty cells kept).
std::vector<std::string> lines_of(const std::string& text);
std::vector<std::string> cells_of(const std::string& line);

#include "control/failure.h"
#include "test_model.h"

// A model with every table created (zero-filled) for the given dimensions, as the
// readers would leave it; names are F0, F1, ... and V0, V1, ...
TestModel make_model(int nfakt, int nvar, int nrec);

// Message of the Failure thrown by `action`, or "" when none is thrown.
template <typename Action>
std::string failure_of(Action action) {
  try {
    action();
  } catch (const Failure& f) {
    return f.what();
  }
  return "";
}
