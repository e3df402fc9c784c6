// Bad input, one row per case: each row makes its files in a fresh folder, runs the
// built program on them and checks the outcome the row states. A rejected input
// gives one message that names the file (and the line, where there is one) and exit
// status 1; an accepted one gives exit status 0 and a whole result table. Either
// way the program does not crash, no input file changes, no temporary file is left
// behind, and an earlier result file changes only when the run succeeds.
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support.h"

namespace {

const char kEarlierResult[] = "an earlier result that a failed run must not touch\n";

// A small model that fits cleanly: 2 factors, 3 variables, 5 records.
const char kProfile[] =
    "\tSoil\tSea\n"
    "Na\t0.1\t1\n"
    "Cl\t0.05\t1.5\n"
    "Si\t1\t0.02\n";
const char kForm[] =
    "\tSoil\tSea\n"
    "Na\t1\t1\n"
    "Cl\t1\t1\n"
    "Si\t1\t1\n";
const char kData[] =
    "Harbour samples\t\n"
    "Date\tNa\tsNa\tCl\tsCl\tSi\tsSi\n"
    "d1\t1.1\t0.1\t1.5\t0.1\t1.02\t0.1\n"
    "d2\t2.05\t0.1\t3.1\t0.1\t0.6\t0.1\n"
    "d3\t0.5\t0.1\t0.7\t0.1\t2.01\t0.1\n"
    "d4\t1.6\t0.1\t2.3\t0.1\t1.5\t0.1\n"
    "d5\t0.9\t0.1\t1.3\t0.1\t0.4\t0.1\n";

// The files and arguments of one run; the row's setup changes what it needs.
struct Case {
  explicit Case(const TempDir& d) : dir(d) {
    profile = dir.write("profile.tsv", kProfile);
    form = dir.write("form.tsv", kForm);
    data = dir.write("data.tsv", kData);
    result = dir.file("result.tsv");
  }
  const TempDir& dir;
  std::string profile, form, data, result;
  std::string mode = "n";
  std::vector<std::string> options;  // options before the mode, besides --passes 2
  std::vector<std::string> extra;  // arguments after the result path
  std::string skip;                // set by a setup that cannot make its case here
  bool as_nobody = false;          // run the program as an unprivileged user
  long max_rss_mb = 0;             // the most memory the run may take; 0: unchecked
  bool earlier_result = true;      // an earlier result file stands at the result path

  std::vector<std::string> args() const {
    std::vector<std::string> a = {"--passes", "2"};
    a.insert(a.end(), options.begin(), options.end());
    a.insert(a.end(), {mode, profile, form, data, result});
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }
};

enum class Names { none, profile, form, data, result };

struct Row {
  const char* name;
  std::function<void(Case&)> setup;
  bool accepted;        // exit 0 with a result table; otherwise exit 1 with a message
  Names names;          // the file the message must name
  long line;            // the line the message must name; 0: none
  std::string says;     // text the message must hold (or, when accepted, the result)
  bool same_result = false;  // the result equals that of the plain files
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

// The user that the rows taking permissions away run the program as when the
// tests run as root, for whom a file's mode is no obstacle.
constexpr uid_t kNobody = 65534;

// True when an unprivileged user can run the program (its folders may be closed).
bool nobody_can_run() {
  static const bool can = [] {
    pid_t pid = fork();
    if (pid == 0) {
      if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(1);
      _exit(::access(TARNOK_BINARY, X_OK) == 0 ? 0 : 1);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    return WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
  }();
  return can;
}

// Makes a case that takes the permission `wanted` away from `path` meaningful:
// as root, the folder is handed to the unprivileged user who then runs the
// program; where that cannot be done, the case is skipped.
void enforce_permissions(Case& r, const std::string& path, int wanted) {
  if (::access(path.c_str(), wanted) != 0) return;
  if (geteuid() != 0 || !nobody_can_run()) {
    r.skip = "permissions are not enforced for this user, and no unprivileged user can run the program";
    return;
  }
  std::error_code ec;
  ::chown(r.dir.path().c_str(), kNobody, kNobody);
  for (auto& entry : std::filesystem::recursive_directory_iterator(r.dir.path(), ec)) {
    ::lchown(entry.path().c_str(), kNobody, kNobody);
  }
  r.as_nobody = true;
}

// Runs the program, as the unprivileged user when `as_nobody`; *max_rss_kb
// receives the most memory it held.
RunResult run_tarnok(const std::vector<std::string>& args, bool as_nobody, long* max_rss_kb) {
  TempDir scratch;
  const std::string out_path = scratch.file("stdout");
  pid_t pid = fork();
  if (pid == 0) {
    if (std::freopen("/dev/null", "r", stdin) == nullptr || std::freopen(out_path.c_str(), "w", stdout) == nullptr) {
      _exit(127);
    }
    if (as_nobody && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(127);
    std::vector<char*> argv = {const_cast<char*>(TARNOK_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TARNOK_BINARY, argv.data());
    _exit(127);
  }
  int wstatus = 0;
  struct rusage usage {};
  wait4(pid, &wstatus, 0, &usage);
  *max_rss_kb = usage.ru_maxrss;
  RunResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = read_file(out_path);
  return result;
}

std::string repeat(const std::string& text, std::size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

// The data file with `from` replaced by `to` once.
std::string data_with(const std::string& from, const std::string& to) {
  std::string d = kData;
  std::size_t at = d.find(from);
  if (at == std::string::npos) throw std::logic_error("no " + from + " in the data");
  return d.replace(at, from.size(), to);
}

// `data` with the ignored rest of its title line padded so that the first `mark`
// after the title starts at byte `offset` of the file. The program reads large
// files a megabyte at a time, so marks at 1 MiB - 1 sit across the first read.
std::string pad_to(const std::string& data, const std::string& mark, std::size_t offset) {
  const std::size_t title_end = data.find('\t') + 1;
  const std::size_t at = data.find(mark, title_end);
  if (at == std::string::npos || at > offset) throw std::logic_error("cannot pad to " + mark);
  std::string padded = data;
  return padded.insert(title_end, offset - at, '#');
}

constexpr std::size_t kFirstRead = 1u << 20;

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A model with `nfakt` factors and `nvar` variables and three records.
void write_sized(Case& r, int nfakt, int nvar) {
  std::string profile, form, data = "Wide\t\nId";
  for (int f = 0; f < nfakt; ++f) profile += "\tF" + std::to_string(f);
  profile += "\n";
  form = profile;
  for (int v = 0; v < nvar; ++v) {
    std::string name = "V" + std::to_string(v);
    profile += name;
    form += name;
    for (int f = 0; f < nfakt; ++f) {
      profile += (f + v) % 3 == 0 ? "\t1" : "\t0.2";
      form += "\t1";
    }
    profile += "\n";
    form += "\n";
    data += "\t" + name + "\ts" + name;
  }
  data += "\n";
  for (int s = 0; s < 3; ++s) {
    data += "r" + std::to_string(s);
    for (int v = 0; v < nvar; ++v) data += "\t" + std::to_string(1 + (s + v) % 4) + "\t0.5";
    data += "\n";
  }
  r.dir.write("profile.tsv", profile);
  r.dir.write("form.tsv", form);
  r.dir.write("data.tsv", data);
}

// Every file under `path` with its content.
std::map<std::string, std::string> snapshot(const std::string& path) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto& entry : std::filesystem::recursive_directory_iterator(path, ec)) {
    struct stat st {};
    if (::lstat(entry.path().c_str(), &st) != 0) continue;
    std::string key = entry.path().string();
    if (S_ISREG(st.st_mode)) {
      files[key] = read_file(key) + "#mode" + std::to_string(st.st_mode & 07777);
    } else {
      files[key] = S_ISDIR(st.st_mode) ? "<folder>" : "<other>";
    }
  }
  return files;
}

// Paths whose content, mode or kind differs between two snapshots, or that only
// one of them has.
std::vector<std::string> changed(const std::map<std::string, std::string>& before,
                                 const std::map<std::string, std::string>& after) {
  std::vector<std::string> paths;
  for (const auto& [path, content] : before) {
    auto it = after.find(path);
    if (it == after.end() || it->second != content) paths.push_back(path);
  }
  for (const auto& [path, content] : after) {
    if (before.count(path) == 0) paths.push_back(path);
  }
  return paths;
}

// The message of a failed run: what follows the progress heading.
std::string message_of(const std::string& out) {
  const std::string heading = "\nChi2/ny\tny\n\n";
  std::size_t at = out.find(heading);
  return at == std::string::npos ? out : out.substr(at + heading.size());
}

std::string plain_result() {
  static const std::string result = [] {
    TempDir d;
    Case r(d);
    RunResult run = run_program(TARNOK_BINARY, r.args());
    return run.status == 0 ? read_file(r.result) : std::string("plain run failed");
  }();
  return result;
}

const Row kRows[] = {
    // Paths of the four files.
    {"ProfileMissing", [](Case& r) { r.profile = r.dir.file("none.tsv"); }, false, Names::profile, 0, "Can't find"},
    {"FormMissing", [](Case& r) { r.form = r.dir.file("none.tsv"); }, false, Names::form, 0, "Can't find"},
    {"DataMissing", [](Case& r) { r.data = r.dir.file("none.tsv"); }, false, Names::data, 0, "Can't find"},
    {"ResultMissingIsCreated", [](Case& r) { r.earlier_result = false; }, true, Names::none, 0, "Harbour samples"},
    {"ProfileEmpty", [](Case& r) { r.dir.write("profile.tsv", ""); }, false, Names::profile, 1, "factor names"},
    // A form without rows holds every profile element: the fit only rescales.
    {"FormEmptyHoldsEveryElement", [](Case& r) { r.dir.write("form.tsv", ""); }, true, Names::none, 0, "Soil"},
    {"DataEmpty", [](Case& r) { r.dir.write("data.tsv", ""); }, false, Names::data, 1, "title cell is empty"},
    {"ResultEmptyIsReplaced", [](Case& r) { r.dir.write("result.tsv", ""); r.earlier_result = false; }, true,
     Names::none, 0, "Harbour samples"},
    {"ProfileUnreadable",
     [](Case& r) {
       ::chmod(r.profile.c_str(), 0);
       enforce_permissions(r, r.profile, R_OK);
     },
     false, Names::profile, 0, "Permission denied"},
    {"FormUnreadable",
     [](Case& r) {
       ::chmod(r.form.c_str(), 0);
       enforce_permissions(r, r.form, R_OK);
     },
     false, Names::form, 0, "Permission denied"},
    {"DataUnreadable",
     [](Case& r) {
       ::chmod(r.data.c_str(), 0);
       enforce_permissions(r, r.data, R_OK);
     },
     false, Names::data, 0, "Permission denied"},
    // A result file that may be written but not read is simply replaced.
    {"ResultUnreadableIsReplaced",
     [](Case& r) {
       r.dir.write("result.tsv", kEarlierResult);
       r.earlier_result = false;
       ::chmod(r.result.c_str(), 0200);
     },
     true, Names::none, 0, "Harbour samples"},
    {"ResultWriteProtected",
     [](Case& r) {
       r.dir.write("result.tsv", kEarlierResult);
       r.earlier_result = false;
       ::chmod(r.result.c_str(), 0444);
       enforce_permissions(r, r.result, W_OK);
     },
     false, Names::result, 0, "Can't create"},
    // Only a file that is not there is "Can't find"; for any other the message says what is wrong.
    {"ProfileIsFolder", [](Case& r) { r.profile = r.dir.path(); }, false, Names::profile, 0,
     ": it is a folder, not a file!"},
    {"FormIsFolder", [](Case& r) { r.form = r.dir.path(); }, false, Names::form, 0,
     ": it is a folder, not a file!"},
    {"DataIsFolder", [](Case& r) { r.data = r.dir.path(); }, false, Names::data, 0,
     ": it is a folder, not a file!"},
    {"ResultIsFolder",
     [](Case& r) {
       std::filesystem::create_directory(r.dir.file("out"));
       r.result = r.dir.file("out");
       r.earlier_result = false;
     },
     false, Names::result, 0, "Can't create"},
    {"ResultInMissingFolder", [](Case& r) { r.result = r.dir.file("no/such/folder/result.tsv"); }, false,
     Names::result, 0, "Can't create"},
    {"ResultInReadOnlyFolder",
     [](Case& r) {
       std::filesystem::create_directory(r.dir.file("locked"));
       r.result = r.dir.file("locked/result.tsv");
       r.dir.write("locked/result.tsv", kEarlierResult);
       r.earlier_result = false;
       ::chmod(r.dir.file("locked").c_str(), 0555);
       enforce_permissions(r, r.dir.file("locked"), W_OK);
     },
     false, Names::result, 0, "Can't create"},
    // A folder that not even root may write in.
    {"ResultInSystemFolder", [](Case& r) { r.result = "/proc/tarnok-result.tsv"; r.earlier_result = false; }, false,
     Names::result, 0, "Can't create"},
    {"ResultIsProfile", [](Case& r) { r.result = r.profile; r.earlier_result = false; }, false, Names::result, 0,
     "would be overwritten"},
    {"ResultIsForm", [](Case& r) { r.result = r.form; r.earlier_result = false; }, false, Names::result, 0,
     "would be overwritten"},
    {"ResultIsData", [](Case& r) { r.result = r.data; r.earlier_result = false; }, false, Names::result, 0,
     "would be overwritten"},
    {"ResultIsDataSpelledOtherwise",
     [](Case& r) {
       std::filesystem::create_directory(r.dir.file("sub"));
       r.result = r.dir.path() + "/sub/.././/data.tsv";
       r.earlier_result = false;
     },
     false, Names::result, 0, "would be overwritten"},
    {"ResultIsHardLinkToData",
     [](Case& r) {
       r.result = r.dir.file("linked.tsv");
       ::link(r.data.c_str(), r.result.c_str());
       r.earlier_result = false;
     },
     false, Names::result, 0, "would be overwritten"},
    {"ResultIsSymbolicLinkToProfile",
     [](Case& r) {
       r.result = r.dir.file("pointer.tsv");
       ::symlink(r.profile.c_str(), r.result.c_str());
       r.earlier_result = false;
     },
     false, Names::result, 0, "would be overwritten"},

    // Named pipes: every input is read more than once, and a rename would destroy
    // the pipe named as the result.
    {"ProfileIsNamedPipe",
     [](Case& r) {
       r.profile = r.dir.file("pipe");
       ::mkfifo(r.profile.c_str(), 0644);
     },
     false, Names::profile, 0, ": it is not a regular file"},
    {"ResultIsNamedPipe",
     [](Case& r) {
       r.result = r.dir.file("pipe");
       ::mkfifo(r.result.c_str(), 0644);
       r.earlier_result = false;
     },
     false, Names::result, 0, "Can't create"},

    // The profile file's shape.
    {"ProfileHeaderOnly", [](Case& r) { r.dir.write("profile.tsv", "\tSoil\tSea\n"); }, false, Names::profile, 0,
     "no variable rows"},
    {"ProfileWithoutHeader",
     [](Case& r) { r.dir.write("profile.tsv", "Na\t0.1\t1\nCl\t0.05\t1.5\nSi\t1\t0.02\nK\t0.2\t0.3\n"); }, false, Names::profile,
     3, "'Si' is not a number"},
    {"ProfileFirstLineEmpty", [](Case& r) { r.dir.write("profile.tsv", std::string("\n") + kProfile); }, false,
     Names::profile, 1, "factor names"},
    {"ProfileHeaderOfTabsOnly", [](Case& r) { r.dir.write("profile.tsv", "\t\t\nNa\t1\n"); }, false, Names::profile,
     1, "no factor names"},
    {"ProfileNotANumber", [](Case& r) { r.dir.write("profile.tsv", replace_all(kProfile, "0.05", "0,05")); }, false,
     Names::profile, 3, "'0,05' is not a number"},
    {"ProfileTruncatedInRow", [](Case& r) { r.dir.write("profile.tsv", "\tSoil\tSea\nNa\t0.1\t1\nCl\t0.05\t1.5\nSi\t1"); },
     false, Names::profile, 4, "ends before all numbers"},
    {"ProfileNan", [](Case& r) { r.dir.write("profile.tsv", replace_all(kProfile, "1.5", "nan")); }, false,
     Names::profile, 3, "'nan' is not a finite number"},
    {"ProfileInf", [](Case& r) { r.dir.write("profile.tsv", replace_all(kProfile, "0.02", "-inf")); }, false,
     Names::profile, 4, "'-inf' is not a finite number"},
    {"ProfileBeyondDoubleRange", [](Case& r) { r.dir.write("profile.tsv", replace_all(kProfile, "0.02", "1e999")); },
     false, Names::profile, 4, "'1e999' is not a finite number"},

    // The form file.
    {"FormNotAnInteger", [](Case& r) { r.dir.write("form.tsv", replace_all(kForm, "Cl\t1", "Cl\tyes")); }, false,
     Names::form, 3, "'yes' is not an integer"},
    {"FormFraction", [](Case& r) { r.dir.write("form.tsv", replace_all(kForm, "Si\t1", "Si\t0.5")); }, false,
     Names::form, 4, "'0.5' is not an integer"},
    {"FormTruncatedInRow", [](Case& r) { r.dir.write("form.tsv", "\tSoil\tSea\nNa\t1\t1\nCl\t1"); }, false, Names::form,
     3, "ends before all numbers"},
    // A row's numbers are read by count, but an empty cell on its line is a missing
    // flag, named there, not a row that goes on with the next row's label.
    {"FormEmptyCell", [](Case& r) { r.dir.write("form.tsv", replace_all(kForm, "Cl\t1\t1", "Cl\t\t1")); }, false,
     Names::form, 3, "1 number where 2 are expected (one per factor); column 2 is empty"},
    {"FormEmptyLastCell", [](Case& r) { r.dir.write("form.tsv", replace_all(kForm, "Cl\t1\t1", "Cl\t1\t")); }, false,
     Names::form, 3, "1 number where 2 are expected (one per factor); column 3 is empty"},
    {"FormRowGoesOnOnTheNextLine", [](Case& r) { r.dir.write("form.tsv", replace_all(kForm, "Cl\t1\t1", "Cl\t1\n1")); },
     true, Names::none, 0, "Soil", true},
    {"FormMoreRowsThanVariablesIgnored",
     [](Case& r) { r.dir.write("form.tsv", std::string(kForm) + "Extra\t1\t1\nMore\tx\ty\n"); }, true, Names::none, 0,
     "Soil", true},

    // The data file's shape.
    {"DataNoRecords", [](Case& r) { r.dir.write("data.tsv", "Harbour samples\t\nDate\tNa\tsNa\tCl\tsCl\tSi\tsSi\n"); },
     false, Names::data, 0, "no data records"},
    // The heading check keeps its fixed message; a second line says where.
    {"DataHeadingMismatch", [](Case& r) { r.dir.write("data.tsv", data_with("\tCl\tsCl", "\tK\tsK")); }, false,
     Names::data, 0, "Error: Mismatch of variable names!"},
    {"DataHeadingMissingVariable", [](Case& r) { r.dir.write("data.tsv", data_with("\tSi\tsSi", "")); }, false,
     Names::data, 0, "Error: Mismatch of variable names!"},
    {"DataHeadingLineMissing",
     [](Case& r) {
       std::string d = kData;
       r.dir.write("data.tsv", d.erase(d.find("Date"), d.find("d1") - d.find("Date")));
     },
     false, Names::data, 0, "Error: Mismatch of variable names!"},
    // Names checked in full: a heading or form label that names a different
    // variable means swapped columns or rows; other differences only warn.
    {"DataColumnsSwapped",
     [](Case& r) {
       r.dir.write("profile.tsv", std::string(kProfile) + "SO4\t0.3\t0.2\n");
       r.dir.write("form.tsv", std::string(kForm) + "SO4\t1\t1\n");
       std::string d = replace_all(replace_all(kData, "\tSi\tsSi", "\tSO4\tsSO4\tSi\tsSi"), "\t0.1\n", "\t0.1\t1\t0.1\n");
       r.dir.write("data.tsv", d);
     },
     false, Names::data, 0, "column 6: value heading 'SO4' names variable 'SO4', but this column belongs to variable 'Si'"},
    {"DataHeadingAbbreviatedWarns", [](Case& r) { r.dir.write("data.tsv", data_with("\tCl\t", "\tChloride\t")); },
     true, Names::none, 0, "Harbour samples", true},
    {"DataCommaSeparated",
     [](Case& r) { r.dir.write("data.tsv", replace_all(replace_all(kData, "\t\n", "\n"), "\t", ",")); }, false,
     Names::data, 2, "Error: Mismatch of variable names!\n"},
    {"FormRowsSwapped",
     [](Case& r) { r.dir.write("form.tsv", replace_all(replace_all(kForm, "Na\t1", "Xx\t1"), "Cl\t1", "Na\t1")); },
     false, Names::form, 3, "row label 'Na' names variable 'Na', but this row belongs to variable 'Cl'"},
    {"FormLabelAbbreviatedWarns", [](Case& r) { r.dir.write("form.tsv", replace_all(kForm, "Cl\t", "Chlor\t")); },
     true, Names::none, 0, "Soil", true},
    {"DataTitleCellEmpty", [](Case& r) { r.dir.write("data.tsv", data_with("Harbour samples", "")); }, false,
     Names::data, 1, "title cell is empty"},
    // The leading tab is swallowed after the title, so the headings shift by one cell.
    {"DataHeadingLeadingTab", [](Case& r) { r.dir.write("data.tsv", data_with("Date\t", "\t")); }, false, Names::data,
     0, "Error: Mismatch of variable names!"},
    {"DataValueNotANumber", [](Case& r) { r.dir.write("data.tsv", data_with("2.05", "2.05mg")); }, false, Names::data,
     4, "'2.05mg' is not a number"},
    {"DataUncertaintyNotANumber", [](Case& r) { r.dir.write("data.tsv", data_with("0.6\t0.1", "0.6\t-")); }, false,
     Names::data, 4, "'-' is not a number"},
    {"DataTruncatedInRecord", [](Case& r) { r.dir.write("data.tsv", std::string(kData) + "d6\t1.1\t0.1\t1.5"); },
     false, Names::data, 8, "3 numbers where 6 are expected"},
    // A record's numbers stay on its line: an empty cell may not pull in the next
    // line's identifier (here a number) as a value.
    {"DataEmptyCellNumericIdentifiers",
     [](Case& r) {
       std::string d = kData;
       for (const char* id : {"d1", "d2", "d3", "d4", "d5"}) d = replace_all(d, id, id + 1);
       r.dir.write("data.tsv", replace_all(d, "\t3.1\t", "\t\t"));
     },
     false, Names::data, 4, "5 numbers where 6 are expected (a value and an uncertainty for each of 3 variables); "
                           "column 4 is empty"},
    {"DataEmptyLastCell", [](Case& r) { r.dir.write("data.tsv", data_with("2.01\t0.1\n", "2.01\t\n")); }, false,
     Names::data, 5, "5 numbers where 6 are expected (a value and an uncertainty for each of 3 variables); column 7 is "
                     "empty"},
    {"DataNumberTooMany", [](Case& r) { r.dir.write("data.tsv", data_with("1.5\t0.1\n", "1.5\t0.1\t7 8\n")); }, false,
     Names::data, 6, "8 numbers where 6 are expected"},
    // The identifier is the cell up to the first tab, spaces included.
    {"DataIdentifierWithoutTab", [](Case& r) { r.dir.write("data.tsv", data_with("d3\t", "d3 ")); }, false, Names::data,
     5, "5 numbers where 6 are expected"},
    {"DataValueNan", [](Case& r) { r.dir.write("data.tsv", data_with("0.7\t0.1", "NaN\t0.1")); }, false, Names::data,
     5, "'NaN' is not a finite number"},
    {"DataValueInf", [](Case& r) { r.dir.write("data.tsv", data_with("1.6", "inf")); }, false, Names::data, 6,
     "'inf' is not a finite number"},
    {"DataUncertaintyNan", [](Case& r) { r.dir.write("data.tsv", data_with("0.9\t0.1", "0.9\t-nan")); }, false,
     Names::data, 7, "'-nan' is not a finite number"},
    {"DataUncertaintyInfinity", [](Case& r) { r.dir.write("data.tsv", data_with("1.02\t0.1", "1.02\tInfinity")); },
     false, Names::data, 3, "'Infinity' is not a finite number"},
    // Finite as a double, but not as the float it is stored in.
    {"DataValueBeyondFloatRange", [](Case& r) { r.dir.write("data.tsv", data_with("1.3", "1e39")); }, false,
     Names::data, 7, "'1e39' is not a finite number"},
    // An uncertainty not above zero marks a missing value.
    {"DataZeroUncertainty", [](Case& r) { r.dir.write("data.tsv", data_with("2.3\t0.1", "2.3\t0")); }, true,
     Names::none, 0, "Harbour samples"},
    {"DataNegativeUncertainty", [](Case& r) { r.dir.write("data.tsv", data_with("0.5\t0.1", "0.5\t-1")); }, true,
     Names::none, 0, "Harbour samples"},
    {"DataEveryUncertaintyZero", [](Case& r) { r.dir.write("data.tsv", replace_all(kData, "\t0.1", "\t0")); }, true,
     Names::none, 0, "Harbour samples"},
    // A record with nothing measured has contributions and residue 0; the other
    // records' residue stays finite (it was -nan in every record).
    {"DataRecordWithNothingMeasured",
     [](Case& r) { r.dir.write("data.tsv", data_with("d3\t0.5\t0.1\t0.7\t0.1\t2.01\t0.1", "d3\t0.5\t0\t0.7\t-1\t2.01\t0")); },
     true, Names::none, 0, "\nd3\t0\t0\t0\n"},
    // Fewer records than factors: negative degrees of freedom and standard errors
    // that are not numbers.
    {"DataFewerRecordsThanFactors",
     [](Case& r) { r.dir.write("data.tsv", std::string(kData).substr(0, std::string(kData).find("d2"))); }, false, Names::data, 0,
     "1 record but 2 factors; there must be at least as many records as factors"},
    {"DataAsManyRecordsAsFactors",
     [](Case& r) { r.dir.write("data.tsv", std::string(kData).substr(0, std::string(kData).find("d3"))); }, true, Names::none, 0,
     "\nd2\t"},

    // Size.
    {"ThousandsOfFactors", [](Case& r) { write_sized(r, 3000, 2); }, false, Names::profile, 1, "3000 factors"},
    // Refused before the tables sized by the factor count are made (a square one
    // would take 3.2 GB here).
    {"TwentyThousandFactors",
     [](Case& r) {
       write_sized(r, 20000, 2);
       r.max_rss_mb = 400;
     },
     false, Names::profile, 1, "20000 factors"},
    // The offset factor's contribution is fixed, so it needs no variable of its own.
    {"OneFactorMoreThanVariablesInOffsetMode",
     [](Case& r) {
       write_sized(r, 3, 2);
       r.mode = "o";
     },
     true, Names::none, 0, "F2"},
    {"OneFactorMoreThanVariables", [](Case& r) { write_sized(r, 3, 2); }, false, Names::profile, 1, "3 factors"},
    {"ThousandsOfVariables", [](Case& r) { write_sized(r, 2, 3000); }, true, Names::none, 0, "V2999"},
    {"FactorName100000", [](Case& r) { r.dir.write("profile.tsv", replace_all(kProfile, "Soil", repeat("S", 100000))); },
     true, Names::none, 0, "SSSSSSSSSS\tSea\tResidue"},
    {"VariableName100000CutTo19",
     [](Case& r) {
       r.dir.write("profile.tsv", replace_all(kProfile, "Cl\t", "C" + repeat("l", 99999) + "\t"));
     },
     true, Names::none, 0, "\nC" + std::string(18, 'l') + "\t"},
    {"FormLabel100000", [](Case& r) { r.dir.write("form.tsv", replace_all(kForm, "Cl\t", repeat("C", 100000) + "\t")); },
     true, Names::none, 0, "Soil", true},
    {"DataTitle100000", [](Case& r) { r.dir.write("data.tsv", data_with("Harbour samples", repeat("T", 100000))); },
     true, Names::none, 0, "TTTTTTTTTT\nDate"},
    {"DataIdentifier100000", [](Case& r) { r.dir.write("data.tsv", data_with("d3\t", repeat("i", 100000) + "\t")); },
     true, Names::none, 0, "iiiiiiiiii\t"},
    {"DataIdentifierHeading100000", [](Case& r) { r.dir.write("data.tsv", data_with("Date", repeat("D", 100000))); },
     true, Names::none, 0, "DDDDDDDDDD\tSoil"},
    {"DataNumber100000", [](Case& r) { r.dir.write("data.tsv", data_with("0.5\t", "0." + repeat("5", 99998) + "\t")); },
     true, Names::none, 0, "Harbour samples"},
    {"DataNotANumber100000Quoted", [](Case& r) { r.dir.write("data.tsv", data_with("0.5\t", repeat("x", 100000) + "\t")); },
     false, Names::data, 5, "'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...' is not a number"},
    {"DataTitleLine50MB",
     [](Case& r) { r.dir.write("data.tsv", data_with("Harbour samples\t", "Harbour samples\t" + repeat("#", 50u << 20))); },
     true, Names::none, 0, "Harbour samples\nDate", true},
    {"ProfileSingleLine50MB", [](Case& r) { r.dir.write("profile.tsv", repeat("a", 50u << 20)); }, false,
     Names::profile, 0, "no variable rows"},
    {"DataSingleLine50MBOfNumbers", [](Case& r) { r.dir.write("data.tsv", repeat("1\t", 25u << 20)); }, false,
     Names::data, 0, "Error: Mismatch of variable names!"},

    // Bytes.
    {"ProfileNulByte", [](Case& r) { r.dir.write("profile.tsv", replace_all(kProfile, "Si", std::string("S\0i", 3))); },
     false, Names::profile, 4, "NUL byte"},
    {"FormNulByte", [](Case& r) { r.dir.write("form.tsv", replace_all(kForm, "Cl\t1\t1", std::string("Cl\t1\t1\0", 7))); },
     false, Names::form, 3, "NUL byte"},
    {"DataNulByte", [](Case& r) { r.dir.write("data.tsv", data_with("d4", std::string("d\0", 2))); }, false, Names::data,
     6, "NUL byte"},
    {"DataUtf16",
     [](Case& r) {
       std::string wide = "\xFF\xFE";
       for (char c : std::string(kData)) wide += std::string{c, '\0'};
       r.dir.write("data.tsv", wide);
     },
     false, Names::data, 0, "is UTF-16 text (a NUL byte in every character); save it as UTF-8"},
    {"ProfileUtf16WithoutByteOrderMark",
     [](Case& r) {
       std::string wide;
       for (char c : std::string(kProfile)) wide += std::string{'\0', c};
       r.dir.write("profile.tsv", wide);
     },
     false, Names::profile, 0, "is UTF-16 text"},
    {"DataNulByteAfterLoneCrLineEnds",
     [](Case& r) { r.dir.write("data.tsv", replace_all(data_with("d4", std::string("d\0", 2)), "\n", "\r")); }, false,
     Names::data, 6, "NUL byte"},
    {"InvalidUtf8InNames",
     [](Case& r) {
       r.dir.write("profile.tsv", replace_all(kProfile, "Sea", "S\xff\xfe" "a"));
       r.dir.write("data.tsv", data_with("Date", "D\xc3\x28te"));
     },
     true, Names::none, 0, "S\xff\xfe" "a"},
    {"InvalidUtf8InNumber", [](Case& r) { r.dir.write("data.tsv", data_with("1.6", "1.6\xe2\x82")); }, false,
     Names::data, 6, "is not a number"},
    {"CrLfLineEnds",
     [](Case& r) {
       r.dir.write("profile.tsv", replace_all(kProfile, "\n", "\r\n"));
       r.dir.write("form.tsv", replace_all(kForm, "\n", "\r\n"));
       r.dir.write("data.tsv", replace_all(kData, "\n", "\r\n"));
     },
     true, Names::none, 0, "Harbour samples", true},
    {"LoneCrLineEnds",
     [](Case& r) {
       r.dir.write("profile.tsv", replace_all(kProfile, "\n", "\r"));
       r.dir.write("form.tsv", replace_all(kForm, "\n", "\r"));
       r.dir.write("data.tsv", replace_all(kData, "\n", "\r"));
     },
     true, Names::none, 0, "Harbour samples", true},
    {"ByteOrderMarks",
     [](Case& r) {
       r.dir.write("profile.tsv", std::string("\xEF\xBB\xBF") + kProfile);
       r.dir.write("form.tsv", std::string("\xEF\xBB\xBF") + kForm);
       r.dir.write("data.tsv", std::string("\xEF\xBB\xBF") + kData);
     },
     true, Names::none, 0, "Harbour samples", true},

    // Across the first read of a large file.
    {"CrLfAcrossFirstRead",
     [](Case& r) { r.dir.write("data.tsv", pad_to(replace_all(kData, "\n", "\r\n"), "\r\n", kFirstRead - 1)); }, true,
     Names::none, 0, "Harbour samples", true},
    {"LoneCrAcrossFirstRead",
     [](Case& r) { r.dir.write("data.tsv", pad_to(replace_all(kData, "\n", "\r"), "\r", kFirstRead - 1)); }, true,
     Names::none, 0, "Harbour samples", true},
    {"NumberAcrossFirstRead", [](Case& r) { r.dir.write("data.tsv", pad_to(kData, "2.05", kFirstRead - 2)); }, true,
     Names::none, 0, "Harbour samples", true},
    {"NulByteBeyondFirstRead",
     [](Case& r) { r.dir.write("data.tsv", pad_to(data_with("d4", std::string("d\0", 2)), "d3", kFirstRead + 10)); },
     false, Names::data, 6, "NUL byte"},
    {"NotANumberBeyondFirstRead",
     [](Case& r) { r.dir.write("data.tsv", pad_to(data_with("1.6", "1.6.1"), "d3", kFirstRead + 10)); }, false,
     Names::data, 6, "'1.6.1' is not a number"},

    // The rotate argument.
    {"RotateNan", [](Case& r) { r.extra = {"nan"}; }, false, Names::none, 0, "rotate"},
    {"RotateBeyondFloatRange", [](Case& r) { r.extra = {"1e39"}; }, false, Names::none, 0, "rotate"},

    // Options whose limit the files set.
    // Raised uncertainties beyond the range of a float weighed every value 0: an all-zero fit.
    {"RobustAlphaTooSmallForTheData", [](Case& r) { r.options = {"--robust", "1e-80"}; }, false, Names::none, 0,
     "Error: --robust 1e-80 is too small for these data"},
    {"RobustAlphaSmallButRepresentable", [](Case& r) { r.options = {"--robust", "1e-30"}; }, true, Names::none, 0,
     "Harbour samples"},
    // A block longer than the records was cut to them: every replicate the data, every band of width 0.
    {"BootstrapBlockMoreThanRecords",
     [](Case& r) { r.options = {"--bootstrap", "2", "--block", "6", "--report", r.dir.file("report")}; }, false,
     Names::data, 0, "--block 6 is more than the 5 records of"},
    // Seeds are decimal: a leading '+' and leading zeros read as written.
    {"SeedWithPlusAndLeadingZeros", [](Case& r) { r.options = {"--starts", "2", "--seed", "+007"}; }, true,
     Names::none, 0, "Harbour samples"},
};

class BadInput : public ::testing::TestWithParam<Row> {};

TEST_P(BadInput, StatedOutcomeAndNothingLost) {
  const Row& row = GetParam();
  TempDir dir;
  Case run(dir);
  row.setup(run);
  if (!run.skip.empty()) GTEST_SKIP() << run.skip;
  if (run.earlier_result && std::filesystem::is_directory(std::filesystem::path(run.result).parent_path())) {
    dir.write(run.result.substr(dir.path().size() + 1), kEarlierResult);
    if (run.as_nobody) ::lchown(run.result.c_str(), kNobody, kNobody);
  }

  const std::map<std::string, std::string> before = snapshot(dir.path());
  long max_rss_kb = 0;
  const RunResult got = run_tarnok(run.args(), run.as_nobody, &max_rss_kb);
  if (run.max_rss_mb > 0) {
    EXPECT_LT(max_rss_kb / 1024, run.max_rss_mb) << "the run took too much memory";
  }
  std::map<std::string, std::string> after = snapshot(dir.path());

  if (row.accepted) {
    ASSERT_EQ(got.status, 0) << got.out;
    const std::string result = read_file(run.result);
    EXPECT_NE(result.find(row.says), std::string::npos) << "result starts: " << result.substr(0, 200);
    if (row.same_result) {
      EXPECT_EQ(result, plain_result());
    }
    after.erase(run.result);
    std::map<std::string, std::string> inputs = before;
    inputs.erase(run.result);
    EXPECT_EQ(changed(inputs, after), std::vector<std::string>{}) << "an input changed or a file was left behind";
    return;
  }

  EXPECT_EQ(got.status, 1) << got.out;
  const std::string message = message_of(got.out);
  EXPECT_NE(message.find(row.says), std::string::npos) << message;
  std::string named;
  switch (row.names) {
    case Names::profile: named = run.profile; break;
    case Names::form: named = run.form; break;
    case Names::data: named = run.data; break;
    case Names::result: named = run.result; break;
    case Names::none: break;
  }
  EXPECT_NE(message.find(named), std::string::npos) << message;
  if (row.line > 0) {
    EXPECT_NE(message.find(" line " + std::to_string(row.line) + ":"), std::string::npos) << message;
  }
  // A short message, straight after the progress heading: every bad input is
  // refused before the fit prints its first statistics line. It is one line
  // ended by a line end; the fixed heading message has a second line that says where,
  // and a file that cannot be created a second line with the system's reason.
  EXPECT_LT(message.size(), 400u) << message;
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.back(), '\n') << message;
  const bool fixed_heading_message = message.rfind("Error: Mismatch of variable names!\n", 0) == 0;
  const bool with_reason = message.rfind("Error: Can't create ", 0) == 0;
  if (with_reason) {
    EXPECT_NE(message.find("!\nReason: "), std::string::npos) << message;
  }
  EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), fixed_heading_message || with_reason ? 2 : 1)
      << message;
  EXPECT_EQ(changed(before, after), std::vector<std::string>{}) << "a file changed or was left behind";
}

INSTANTIATE_TEST_SUITE_P(Rows, BadInput, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& param) { return std::string(param.param.name); });

}  // namespace
