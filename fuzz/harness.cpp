#include "harness.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/console_observer.h"
#include "control/failure.h"
#include "fit/iteration.h"
#include "fit/stop_line.h"
#include "fit/residue.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/name_check.h"
#include "formats/profile_format.h"
#include "measured/measured_table.h"
#include "output/result_file.h"
#include "formats/whole_file.h"
#include "output/same_file.h"
#include "platform/keyboard.h"
#include "robust/weights.h"

namespace {

// The profile the form and data readers are fuzzed against: 3 factors and the
// variables Na, Cl, Si, K.
constexpr std::string_view kProfile =
    "\tSoil\tSea\tTraffic\n"
    "Na\t0.1\t1\t0.01\n"
    "Cl\t0.05\t1.5\t0.02\n"
    "Si\t1\t0.02\t0.1\n"
    "K\t0.2\t0.1\t0.3\n";

// A file in memory, rewritten for every input; readers open it by its path.
class MemoryFile {
 public:
  explicit MemoryFile(const char* name) {
    fd_ = ::memfd_create(name, MFD_CLOEXEC);
    if (fd_ < 0) std::abort();
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  const std::string& set(std::string_view content) {
    if (::ftruncate(fd_, 0) != 0) std::abort();
    if (!content.empty() && ::pwrite(fd_, content.data(), content.size(), 0) != static_cast<ssize_t>(content.size())) {
      std::abort();
    }
    return path_;
  }

 private:
  int fd_ = -1;
  std::string path_;
};

// The lowest free file descriptor: it rises when a run leaves one open.
int lowest_free_descriptor() {
  int probe = ::dup(0);
  if (probe >= 0) ::close(probe);
  return probe;
}

// The result of a whole run goes into a folder of its own, made once and removed
// at exit (plain arrays: they outlive every exit handler).
char g_result_dir[] = "/tmp/tarnok-fuzz-XXXXXX";
char g_result_path[sizeof g_result_dir + 16];

const char* result_path() {
  if (g_result_path[0] == '\0') {
    if (::mkdtemp(g_result_dir) == nullptr) std::abort();
    std::snprintf(g_result_path, sizeof g_result_path, "%s/result.tsv", g_result_dir);
    std::atexit([] {
      ::unlink(g_result_path);
      ::rmdir(g_result_dir);
    });
  }
  return g_result_path;
}

// The console of a whole run: the statistics lines go nowhere.
std::FILE* console() {
  static std::FILE* null = std::fopen("/dev/null", "w");
  return null;
}

void whole_run(std::string_view input, MemoryFile& profile, MemoryFile& form, MemoryFile& data) {
  if (input.empty()) return;
  const unsigned flags = static_cast<unsigned char>(input[0]);
  input.remove_prefix(1);
  std::size_t first = input.find(kFileSeparator);
  if (first == std::string_view::npos) return;
  std::size_t second = input.find(kFileSeparator, first + 1);
  if (second == std::string_view::npos) return;
  const std::string& profile_path = profile.set(input.substr(0, first));
  const std::string& form_path = form.set(input.substr(first + 1, second - first - 1));
  const std::string& data_path = data.set(input.substr(second + 1));

  Problem problem;
  problem.offset = (flags & 1) != 0 ? 1 : 0;
  const char* rotate_arg = (flags & 2) != 0 ? "0.5" : nullptr;
  FitSettings settings;
  settings.rotate = rotate_arg != nullptr ? 0.5f : 0.0f;
  settings.passes = 2;
  const RobustWeighting robust(2.0);
  if ((flags & 4) != 0) settings.reweighting = &robust;  // robust mode
  read_profile(problem, profile_path);
  read_form(problem, form_path);
  read_data(problem, data_path);
  FitState state = FitState::sized_for(problem);
  refuse_input_as_result(result_path(), {profile_path, form_path, data_path});
  ResultFile result(result_path());
  NoKeyboard keyboard;
  ConsoleObserver observer(keyboard, console(), false);
  fail_without_result(run_fit(problem, settings, state, observer));
  residue(problem, state);
  write_result(problem, state, result.stream(), rotate_arg);
  result.commit();
}

void measured_tables(std::string_view input, MemoryFile& values, MemoryFile& uncertainties) {
  if (input.empty()) return;
  static const char kDelimiters[] = {'\0', ',', ';', '\t'};
  const char delimiter = kDelimiters[static_cast<unsigned char>(input[0]) & 3];
  input.remove_prefix(1);
  MissingMarkers missing;
  missing.extra = {"<LOD"};
  const std::size_t split = input.find(kFileSeparator);
  MeasuredTable table = read_measured(values.set(input.substr(0, split)), delimiter, missing);
  if (split != std::string_view::npos) {
    read_measured(uncertainties.set(input.substr(split + 1)), delimiter, missing, &table);
  }
}

}  // namespace

void fuzz_one(FuzzTarget target, const std::uint8_t* bytes, std::size_t size) {
  static MemoryFile profile("profile");
  static MemoryFile form("form");
  static MemoryFile data("data");
  set_warning_stream(console());  // a warning per input would flood the fuzzer's log
  result_path();
  const int free_before = lowest_free_descriptor();
  const std::string_view input(reinterpret_cast<const char*>(bytes), size);
  try {
    Problem m;
    switch (target) {
      case FuzzTarget::profile:
        read_profile(m, profile.set(input));
        break;
      case FuzzTarget::form:
        read_profile(m, profile.set(kProfile));
        read_form(m, form.set(input));
        break;
      case FuzzTarget::data:
        read_profile(m, profile.set(kProfile));
        read_data(m, data.set(input));
        break;
      case FuzzTarget::run:
        whole_run(input, profile, form, data);
        break;
      case FuzzTarget::measured:
        measured_tables(input, profile, data);
        break;
    }
  } catch (const Failure&) {
    // A rejected input: the program prints the message and ends with status 1.
  }
  if (lowest_free_descriptor() != free_before) {
    std::fprintf(stderr, "a file descriptor was left open\n");
    std::abort();
  }
}
