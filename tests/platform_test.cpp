// The platform layer through the interfaces the rest of the program uses. Built and
// run on Linux and, cross-built, under Wine; the Windows rows cover device names,
// other cases of the letters and backslash separators.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "output/same_file.h"
#include "output/sha256.h"
#include "formats/whole_file.h"
#include "platform/files.h"
#include "platform/input_file.h"
#include "platform/keyboard.h"
#include "platform/safe_file.h"
#include "support.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/signals.h"
#include "platform/windows/console_events.h"
#include "platform/windows/wide_text.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

std::filesystem::path fs_path(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

std::string read_bytes(const std::string& path) {
  std::FILE* f = open_file(path, "r");
  if (f == nullptr) return "<cannot open>";
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  std::fclose(f);
  return text;
}

void write_bytes(const std::string& path, const std::string& text) {
  std::FILE* f = open_file(path, "w");
  ASSERT_NE(f, nullptr) << path;
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

TEST(Files, NonAsciiNamesAndLineEndsKept) {
  TempDir dir;
  const std::string folder = dir.file("M\xC3\xBCller");  // "Müller"
  ASSERT_TRUE(make_directory(folder));
  ASSERT_TRUE(make_directory(folder)) << "an existing folder is fine";
  const std::string data = folder + "/Messdaten \xC3\xA4\xC3\xB6\xE2\x82\xAC.tsv";
  write_bytes(data, "a\tb\nc\td\r\n");
  EXPECT_EQ(read_bytes(data), "a\tb\nc\td\r\n") << "no line end is translated";
  {
    InputFile in(data);
    ASSERT_TRUE(in.ok());
    EXPECT_EQ(in.size(), 9u);
    char buf[16];
    EXPECT_EQ(in.read(buf, sizeof buf), 9);
    EXPECT_EQ(in.read(buf, sizeof buf), 0);
  }
  EXPECT_EQ(list_dir(folder), std::vector<std::string>{"Messdaten \xC3\xA4\xC3\xB6\xE2\x82\xAC.tsv"});
  EXPECT_FALSE(make_directory(dir.file("missing/sub")));
  EXPECT_TRUE(remove_file(data));
  EXPECT_FALSE(file_exists(data));
}

TEST(Files, ReplaceIsWholeOrNothing) {
  TempDir dir;
  const std::string target = dir.file("r\xC3\xA9sultat.tsv");
  const std::string fresh = dir.file("fresh");
  write_bytes(target, "old\n");
  write_bytes(fresh, "new\n");
  ASSERT_TRUE(replace_file(fresh, target));
  EXPECT_EQ(read_bytes(target), "new\n");
  EXPECT_FALSE(file_exists(fresh));
  // A failed replacement leaves the target as it was and says why.
  EXPECT_FALSE(replace_file(dir.file("missing"), target));
  EXPECT_FALSE(last_error_text().empty());
  EXPECT_EQ(read_bytes(target), "new\n");
}

// Folders are made with every missing folder above them, under any name; a file
// in the way is reported.
TEST(Files, MakeDirectoriesMakesTheWholePath) {
  TempDir dir;
  const std::string muller = "M\xC3\xBCller";  // "Müller"
  dir.write("plain", "x");
  struct Row {
    std::string path;  // in the scratch folder
    bool made;
  };
  const Row rows[] = {
      {muller, true},
      {muller, true},  // there already
      {muller + "/rep/figures", true},
      {muller + "/\xC3\xA9t\xC3\xA9 2024/./a//b/", true},
      {muller + "/missing/../c", true},
      {"plain", false},
      {"plain/sub", false},
      {muller + "/rep/figures/../../../plain/sub/deeper", false},
  };
  for (const Row& row : rows) {
    const std::string path = dir.file(row.path);
    EXPECT_EQ(make_directories(path), row.made) << row.path;
    if (!row.made && !kWindows) {
      EXPECT_EQ(last_error_text(), "Not a directory") << row.path;
    }
    FileIdentity id;
    EXPECT_EQ(file_identity(path, &id) && !InputFile(path).ok(), row.made) << row.path << " is a folder";
  }
  EXPECT_EQ(list_dir(dir.file(muller)), (std::vector<std::string>{"c", "missing", "rep", "\xC3\xA9t\xC3\xA9 2024"}));
  EXPECT_FALSE(make_directories(""));
}

// The place of a file tells two spellings of one path apart from two files, also
// before the file exists (a report file and the result not written yet).
TEST(Files, PlaceIsTheSameForEverySpelling) {
  TempDir dir;
  const std::string base = dir.file("M\xC3\xBCller");
  ASSERT_TRUE(make_directories(base + "/rep"));
  const std::string data = dir.write("M\xC3\xBCller/data.tsv", "x\n");
  struct Row {
    std::string a, b;
    bool same;
  };
  std::vector<Row> rows = {
      {base + "/rep/run.json", base + "/rep/run.json", true},
      {base + "/rep/run.json", base + "/./rep//run.json", true},
      {base + "/rep/run.json", base + "/rep/", false},
      {base + "/rep/run.json", base + "/rep/missing/../run.json", true},
      {base + "/rep/run.json", base + "/missing/../rep/./run.json", true},
      {base + "/rep/run.json", base + "/rep/missing/more/../../run.json", true},
      {base + "/rep/run.json", base + "/missing/../missing/../rep/run.json", true},
      {base + "/rep/run.json", base + "/rep/records.tsv", false},
      {base + "/rep/run.json", base + "/run.json", false},
      {base + "/rep/new/run.json", base + "/rep/new/./run.json", true},
      {data, base + "/rep/../data.tsv", true},
      {data, base + "/rep/data.tsv", false},
      {data, base + "/missing/../data.tsv", true},
      // Relative to the current folder, where the first name does not exist yet.
      {"tarnok-missing.tsv", "./tarnok-missing.tsv", true},
      {"tarnok-missing/run.json", "tarnok-missing/./run.json", true},
  };
  if (kWindows) {
    rows.push_back({base + "/rep/r\xC3\xA9sum\xC3\xA9.json", base + "\\REP\\R\xC3\x89SUM\xC3\x89.JSON", true});
    rows.push_back({data, dir.file("m\xC3\xBCLLER\\Data.TSV"), true});
  } else {
    rows.push_back({base + "/rep/run.json", base + "/rep/Run.json", false});
  }
  for (const Row& row : rows) {
    FilePlace a;
    FilePlace b;
    ASSERT_TRUE(file_place(row.a, &a)) << row.a;
    ASSERT_TRUE(file_place(row.b, &b)) << row.b;
    EXPECT_EQ(a == b, row.same) << row.a << " and " << row.b;
  }
}

// The run record's checksum reads an input by its UTF-8 name.
TEST(Files, DigestOfANonAsciiName) {
  TempDir dir;
  ASSERT_TRUE(make_directories(dir.file("M\xC3\xBCller")));
  const FileDigest digest = digest_file(dir.write("M\xC3\xBCller/\xC3\xA4.tsv", "abc"));
  EXPECT_TRUE(digest.read);
  EXPECT_EQ(digest.size, 3u);
  EXPECT_EQ(digest.sha256, sha256_hex("abc"));
}

// Paths an input may not come from, as opened by the readers.
TEST(InputFile, OnlyRegularFilesAreRead) {
  TempDir dir;
  dir.write("data.tsv", "x\n");
  ASSERT_TRUE(make_directory(dir.file("folder")));
  std::vector<std::string> refused = {dir.file("folder"), dir.file("missing.tsv"), dir.path()};
  if (kWindows) {
    for (const char* device : {"NUL", "nul", "CON", "con.txt", "Nul.tsv", "AUX", "com1", "LPT9.dat", "nul:",
                               "\\\\.\\NUL", "CONIN$"}) {
      refused.push_back(device);
    }
    refused.push_back(dir.path() + "\\NUL");
    refused.push_back(dir.path() + "\\nul.txt");
  } else {
    refused.push_back("/dev/null");
  }
  for (const std::string& path : refused) EXPECT_FALSE(InputFile(path).ok()) << path;
  EXPECT_TRUE(InputFile(dir.file("data.tsv")).ok());
}

// Every spelling of an input file as the result is refused before the fit.
TEST(SameFile, EverySpellingOfAnInputIsRefused) {
  TempDir dir;
  const std::string data = dir.write("data.tsv", "x\n");
  dir.write("other.tsv", "y\n");
  ASSERT_TRUE(make_directory(dir.file("sub")));
  std::filesystem::create_hard_link(fs_path(data), fs_path(dir.file("hard.tsv")));
  std::vector<std::string> same = {data, dir.file("./data.tsv"), dir.file("sub/../data.tsv"), dir.file("hard.tsv")};
  if (kWindows) {
    same.push_back(dir.file("DATA.TSV"));
    same.push_back(dir.file("Data.Tsv"));
    std::string backslashed = dir.file("sub\\..\\data.tsv");
    for (char& c : backslashed) c = c == '/' ? '\\' : c;
    same.push_back(backslashed);
    same.push_back(dir.path() + "\\.\\data.tsv");
  }
  for (const std::string& result : same) {
    EXPECT_NE(failure_of([&] { refuse_input_as_result(result, {dir.file("form.tsv"), data}); })
                  .find("it would be overwritten"),
              std::string::npos)
        << result;
  }
  for (const std::string& result : {dir.file("other.tsv"), dir.file("new.tsv"), dir.file("sub")}) {
    EXPECT_EQ(failure_of([&] { refuse_input_as_result(result, {data}); }), "") << result;
  }
}

// Result paths that cannot be replaced whole are refused before the fit, and the
// table replaces its target only on commit. The platform returns each failure; the
// run words it.
TEST(SafeFile, RefusalsAndWholeReplacement) {
  TempDir dir;
  ASSERT_TRUE(make_directory(dir.file("folder")));
  std::vector<std::string> refused = {dir.file("folder"), dir.file("missing/result.tsv"), dir.file("slash/"), ""};
  if (kWindows) {
    for (const char* device : {"NUL", "con", "nul.txt", "CON.tsv", "aux.result.tsv", "\\\\.\\NUL"}) {
      refused.push_back(device);
    }
    refused.push_back(dir.path() + "\\nul.tsv");
    refused.push_back(dir.path() + "\\folder\\");
  }
#ifdef _WIN32
  const std::string read_only = dir.write("read-only.tsv", "kept\n");
  SetFileAttributesW(fs_path(read_only).c_str(), FILE_ATTRIBUTE_READONLY);
  refused.push_back(read_only);
#endif
  for (const std::string& path : refused) {
    EXPECT_FALSE(SafeFile(path).ok()) << path;
    // The program's line, then the system's reason on a line of its own.
    const std::string message = failure_of([&] { ResultFile result(path); });
    const std::string line = "Error: Can't create " + path + "!\nReason: ";
    EXPECT_EQ(message.substr(0, line.size()), line) << path;
    EXPECT_GT(message.size(), line.size() + 2) << message;
    EXPECT_EQ(message.substr(message.size() - 2), ".\n") << message;
  }
  EXPECT_EQ(list_dir(dir.path()).size(), kWindows ? 2u : 1u) << "no temporary file is left";

  const std::string target = dir.write("M\xC3\xBCller result.tsv", "earlier\n");
  {
    SafeFile unfinished(target);
    ASSERT_TRUE(unfinished.ok());
    std::fputs("half a table\n", unfinished.stream());
  }
  EXPECT_EQ(read_bytes(target), "earlier\n") << "an unfinished table leaves the earlier result";
  SafeFile result(target);
  ASSERT_TRUE(result.ok());
  std::fputs("line 1\nline 2\n", result.stream());
  std::string why;
  EXPECT_TRUE(result.commit(&why)) << why;
  EXPECT_EQ(read_bytes(target), "line 1\nline 2\n");
  EXPECT_EQ(list_dir(dir.path()).size(), kWindows ? 3u : 2u) << "no temporary file is left";
}

// A table that cannot be put in place (a folder took the target's name meanwhile)
// leaves no temporary file; the platform says why, and the run's message names the
// path and the reason.
TEST(SafeFile, FailedCommitSaysWhy) {
  TempDir dir;
  const std::string target = dir.file("M\xC3\xBCller.tsv");
  {
    SafeFile file(target);
    ASSERT_TRUE(file.ok());
    std::fputs("table\n", file.stream());
    ASSERT_TRUE(make_directory(target));
    std::string why;
    EXPECT_FALSE(file.commit(&why));
    EXPECT_FALSE(why.empty());
    if (!kWindows) {
      EXPECT_EQ(why, "Is a directory");
    }
  }
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"M\xC3\xBCller.tsv"}) << "no temporary file is left";
  const std::string result = dir.file("result.tsv");
  const std::string message = failure_of([&] {
    ResultFile file(result);
    ASSERT_TRUE(make_directory(result));
    file.commit();
  });
  EXPECT_EQ(message.rfind("Error: Can't write " + result + " (", 0), 0u) << message;
  EXPECT_NE(message.find(")! Any earlier result file is unchanged.\n"), std::string::npos) << message;
}

// Standard input that is not a console, in place of the program's own.
class InputInPlace {
 public:
#ifdef _WIN32
  explicit InputInPlace(HANDLE h) : saved_(GetStdHandle(STD_INPUT_HANDLE)) { SetStdHandle(STD_INPUT_HANDLE, h); }
  ~InputInPlace() { SetStdHandle(STD_INPUT_HANDLE, saved_); }

 private:
  HANDLE saved_;
#else
  explicit InputInPlace(int fd) : saved_(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
  ~InputInPlace() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }

 private:
  int saved_;
#endif
};

// A pipe: the reading end, and the writing end until closed.
struct Pipe {
#ifdef _WIN32
  Pipe() { CreatePipe(&read_end, &write_end, nullptr, 0); }
  ~Pipe() {
    CloseHandle(read_end);
    close_writer();
  }
  void write_byte() {
    DWORD n = 0;
    WriteFile(write_end, "k", 1, &n, nullptr);
  }
  void close_writer() {
    if (write_end != nullptr) CloseHandle(write_end);
    write_end = nullptr;
  }
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
#else
  Pipe() {
    int fds[2];
    if (pipe(fds) == 0) read_end = fds[0], write_end = fds[1];
  }
  ~Pipe() {
    close(read_end);
    close_writer();
  }
  void write_byte() { (void)!write(write_end, "k", 1); }
  void close_writer() {
    if (write_end >= 0) close(write_end);
    write_end = -1;
  }
  int read_end = -1;
  int write_end = -1;
#endif
};

// Without a console a waiting byte and the end of input are key presses; a pipe
// that is open and empty is not.
TEST(Keyboard, InputThatIsNotAConsole) {
  Pipe pipe;
  InputInPlace in(pipe.read_end);
  EXPECT_FALSE(stdin_is_terminal());
  std::unique_ptr<Keyboard> keyboard = console_keyboard();
  EXPECT_FALSE(keyboard->key_waiting()) << "nothing written yet";
  pipe.write_byte();
  EXPECT_TRUE(keyboard->key_waiting()) << "a byte waits";
  keyboard->read_key();
  EXPECT_FALSE(keyboard->key_waiting()) << "the byte was read";
  pipe.close_writer();
  EXPECT_TRUE(keyboard->key_waiting()) << "the end of input";
}

#ifdef _WIN32
// Console events through the handler the program installs (a headless console
// cannot send them): before the fit one ends the run at once; during the fit the
// first asks the fit to stop and the second ends the run at once, removing the
// unfinished result file, with the status of the matching signal.
TEST(ConsoleEvents, FirstStopsTheFitSecondEndsAtOnce) {
  // A death test runs the test again in a child process: the file's name must be
  // the same there.
  const std::string folder = narrow(std::filesystem::temp_directory_path().wstring().c_str());
  const std::string temp = folder + "/tarnok-console-event-test.tsv.tmp1";
  struct Row {
    DWORD event;
    int status;
  };
  for (Row row : {Row{CTRL_C_EVENT, 130}, Row{CTRL_BREAK_EVENT, 149}}) {
    write_bytes(temp, "half a table");
    EXPECT_EXIT(
        {
          register_temp_file(temp.c_str());
          on_console_event(row.event);
        },
        ::testing::ExitedWithCode(row.status), "");
    EXPECT_FALSE(file_exists(temp)) << "before the fit";
    write_bytes(temp, "half a table");
    EXPECT_EXIT(
        {
          register_temp_file(temp.c_str());
          enter_fit_phase();
          if (on_console_event(row.event) && stop_requested()) std::fputs("stop requested\n", stderr);
          on_console_event(row.event);
        },
        ::testing::ExitedWithCode(row.status), "stop requested");
    EXPECT_FALSE(file_exists(temp)) << "during the fit";
  }
}
#endif

}  // namespace
