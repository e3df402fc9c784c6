// tarnok: fits a constrained factor model to a table of measurements and writes
// one tab-separated result table. The program's entry: its arguments as UTF-8, the
// command they name, and the one way out of every failure (its message on standard
// output and exit status 1).
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "app/fit_command.h"
#include "app/prepare_command.h"
#include "app/report_command.h"
#include "app/scan_command.h"
#include "control/failure.h"
#include "platform/program.h"

namespace {

int dispatch(std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const int count = static_cast<int>(arguments.size());
  // A first argument that names a subcommand runs it; anything else is the fit's
  // own command line, exactly as always (a mode starts with n, N, o or O).
  if (count >= 2 && arguments[1] == "prepare") return run_prepare(count - 1, argv.data() + 1, argv[0]);
  if (count >= 2 && arguments[1] == "report") return run_report(count - 1, argv.data() + 1);
  if (count >= 2 && arguments[1] == "scan") return run_scan_command(count - 1, argv.data() + 1);
  return run_fit_command(count, argv.data());
}

}  // namespace

int main(int argc, char** argv) {
  prepare_standard_streams();
  try {
    std::vector<std::string> arguments = program_arguments(argc, argv);
    return dispatch(arguments);
  } catch (const Failure& failure) {
    std::fputs(failure.what(), stdout);
    std::fflush(stdout);
    return 1;
  } catch (const std::bad_alloc&) {
    // Tables beyond the memory of the machine; the temporary result file is gone
    // with the unwinding of the command.
    std::fputs("Error: Out of memory! Reduce the number of records, variables or factors.\n", stdout);
    std::fflush(stdout);
    return 1;
  } catch (const std::exception& error) {
    std::printf("Error: %s!\n", error.what());
    std::fflush(stdout);
    return 1;
  }
}
