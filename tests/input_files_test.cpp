#include <gtest/gtest.h>

#include "control/failure.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/profile_format.h"
#include "support.h"

namespace {

TestModel profile_from(const TempDir& dir, const std::string& content) {
  TestModel m;
  read_profile(m, dir.write("profile", content));
  return m;
}

// A model whose profile names the variables Na and Cl under factors A and B.
TestModel na_cl(const TempDir& dir) { return profile_from(dir, "\tA\tB\nNa\t1\t2\nCl\t3\t4\n"); }

}  // namespace

TEST(ProfileFile, HeaderGivesTheFactorsAndRowsTheVariables) {
  TempDir dir;
  struct Case {
    std::string content;
    std::vector<std::string> factors;
    std::vector<std::string> variables;
    std::vector<double> p;
  };
  const Case cases[] = {
      {"\tA\tB\tC\nx\t1\t2\t3\ny\t4\t5\t6\nz\t7\t8\t9\n", {"A", "B", "C"}, {"x", "y", "z"}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"\t\tA\t\tB\t\nx\t1\t2\ny\t3\t4\n", {"A", "B"}, {"x", "y"}, {1, 2, 3, 4}},
      // Blank lines vanish, names keep their spaces, numbers go by count.
      {"\tA\tB\n\nSodium ion\t1\t2\n\n\nCl\t3  4\n", {"A", "B"}, {"Sodium ion", "Cl"}, {1, 2, 3, 4}},
      // Names are cut to 19 characters.
      {"\tA\nabcdefghijklmnopqrstuvwxy\t5\n", {"A"}, {"abcdefghijklmnopqrs"}, {5}},
      // A spreadsheet on Windows: CR LF line ends and a byte-order mark.
      {"\xEF\xBB\xBF\tA\tB\r\nNa\t1\t2\r\nCl\t3\t4\r\n", {"A", "B"}, {"Na", "Cl"}, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    TestModel m = profile_from(dir, c.content);
    EXPECT_EQ(m.faktnavn, c.factors);
    EXPECT_EQ(m.varnavn, c.variables);
    EXPECT_EQ(m.starting_p, c.p);
    EXPECT_EQ(m.nfakt, static_cast<int>(c.factors.size()));
    EXPECT_EQ(m.nvar, static_cast<int>(c.variables.size()));
    EXPECT_EQ(m.fp, std::vector<int>(c.p.size(), 0));
  }
}

TEST(ProfileFile, CapacitiesAreLifted) {
  TempDir dir;
  std::string header, row = "v";
  for (int f = 0; f < 300; ++f) header += "\tF" + std::to_string(f), row += "\t1";
  std::string content = header + "\n";
  for (int v = 0; v < 400; ++v) content += row + "\n";
  TestModel m = profile_from(dir, content);
  EXPECT_EQ(m.nfakt, 300);
  EXPECT_EQ(m.nvar, 400);
  EXPECT_EQ(m.starting_p.size(), 400u * 300u);
}

TEST(ProfileFile, UnusableFilesAreRejectedNamingTheFile) {
  TempDir dir;
  std::string f = dir.file("profile");
  struct Case {
    std::string content;
    std::string message;
  };
  const Case cases[] = {
      {"\nx\t1\n", "Error: " + f + " line 1: the first line must hold the factor names!\n"},
      {"", "Error: " + f + " line 1: the first line must hold the factor names!\n"},
      {"\t\t\nx\t1\n", "Error: " + f + " line 1: no factor names!\n"},
      {"\tA\tB\n", "Error: " + f + ": no variable rows after the factor names!\n"},
      {"\tA\tB\nx\t1\tzwei\ny\t1\t2\n", "Error: " + f + " line 2: 'zwei' is not a number!\n"},
      {"\tA\tB\tC\nx\t1\t2\t3\ny\t1\t2\t3\n",
       "Error: " + f + " line 1: 3 factors but only 2 variables; there must be at least as many variables as factors!\n"},
      {"\tA\tB\nx\t1\ny\t2\t3\n", "Error: " + f + " line 3: 'y' is not a number!\n"},
      {"\tA\tB\nx\t1\t2\ny\t3\n", "Error: " + f + " line 4: the file ends before all numbers are read!\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(failure_of([&] { profile_from(dir, c.content); }), c.message) << c.content;
  }
  EXPECT_EQ(failure_of([&] { TestModel m; read_profile(m, dir.file("missing")); }),
            "Error: Can't find " + dir.file("missing") + "!\n");
  // Only a file that is not there is "Can't find"; a folder is named as one.
  EXPECT_EQ(failure_of([&] { TestModel m; read_profile(m, dir.path()); }),
            "Error: Can't read " + dir.path() + ": it is a folder, not a file!\n");
}

TEST(FormFile, NonzeroMeansFreeAndRowsMatchByPosition) {
  TempDir dir;
  struct Case {
    std::string content;
    std::vector<int> fp;
  };
  const Case cases[] = {
      {"\tA\tB\nNa\t1\t0\nCl\t0\t-3\n", {1, 0, 0, -3}},
      {"heading only\n", {0, 0, 0, 0}},
      {"", {0, 0, 0, 0}},
      {"h\nNa\t1\t1\n", {1, 1, 0, 0}},                            // missing row: held
      {"h\nNa\t1\t1\nCl\t1\t1\nK\t1\t1\nextra\tjunk\n", {1, 1, 1, 1}},  // extra rows ignored
      {"h\r\n\r\nrow1\t1\t0\r\nrow2\t0\t1\r\n", {1, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    TestModel m = na_cl(dir);
    read_form(m, dir.write("form", c.content));
    EXPECT_EQ(m.fp, c.fp) << c.content;
  }
  TestModel m = na_cl(dir);
  std::string f = dir.write("form", "h\nNa\t1\tx\n");
  EXPECT_EQ(failure_of([&] { read_form(m, f); }), "Error: " + f + " line 2: 'x' is not an integer!\n");
}

TEST(DataFile, HeadingsAreCheckedByName) {
  TempDir dir;
  const std::string f = dir.file("data");
  const std::string mismatch = "Error: Mismatch of variable names!\n" + f + " line 2";
  struct Case {
    std::string heading_lines;
    std::string message;  // empty: accepted
    std::string xnavn;
  };
  const Case cases[] = {
      {"T\t\nDate\tNa\tsNa\tCl\tsCl\n", "", "Date"},
      {"T\t\nDate\tNA\tanything\tCL\tu\n", "", "Date"},       // case does not count after the first character
      {"T\t\nDate\tNi\tanything\tCx\tu\n", "", "Date"},       // abbreviations: warnings only
      {"T\t\nDate\tNa\tsNa\tCl\tsCl\t\n", "", "Date"},       // empty cells do not count
      {"T\nDate\tNa\tsNa\tCl\tsCl\n", "", "\nDate"},           // no tab after the title
      // xnavn becomes Na, and the value headings are sNa and sCl.
      {"T\t\n\tNa\tsNa\tCl\tsCl\n", mismatch + " column 2: value heading 'sNa' where variable 'Na' is expected.\n", ""},
      {"T\t\nDate\tNa\tsNa\n",
       mismatch + ": 1 value heading for 2 variables (each variable needs a value and an uncertainty column).\n", ""},
      {"T\t\nDate\tNa\tsNa\tCl\tsCl\tK\tsK\n",
       mismatch + " column 6: value heading 'K' for a variable 3, but the profile file has only 2 variables.\n", ""},
      {"T\t\nDate\tCl\tsCl\tNa\tsNa\n",
       mismatch + " column 2: value heading 'Cl' where variable 'Na' is expected (it names variable 2 of the profile "
                  "file).\n",
       ""},
      {"T,\nDate,Na,sNa,Cl,sCl\n",
       "Error: Mismatch of variable names!\n" + f + " line 2: no tab between the headings. The line holds commas but no tabs: the file is not tab-separated (tarnok "
       "prepare converts such files).\n",
       ""},
      {"T;\nDate;Na;sNa;Cl;sCl\n", "semicolons but no tabs", ""},
  };
  for (const Case& c : cases) {
    TestModel m = na_cl(dir);
    dir.write("data", c.heading_lines + "r1\t1\t1\t2\t1\n");
    std::string message = failure_of([&] { read_data(m, f); });
    if (c.message.empty()) {
      EXPECT_EQ(message, "") << c.heading_lines;
      EXPECT_EQ(m.xnavn, c.xnavn);
      EXPECT_EQ(m.text, "T");
    } else {
      EXPECT_NE(message.find(c.message), std::string::npos) << c.heading_lines << message;
    }
  }
}

TEST(DataFile, RecordsAreCountedByLineAndReadAsFloats) {
  TempDir dir;
  TestModel m = na_cl(dir);
  read_data(m, dir.write("data",
                         "Title\tignored\r\nDate\tNa\tsNa\tCl\tsCl\r\n"
                         "3/1 0:00\t0.1\t0.01\t2\t0\r\n\r\n"
                         "3/1 1:00\t1e-3\t-1\t2.5\t0.5\r\n"));
  EXPECT_EQ(m.text, "Title");
  EXPECT_EQ(m.nrec, 2);
  EXPECT_EQ(m.id(0), "3/1 0:00");
  EXPECT_EQ(m.id(1), "3/1 1:00");
  EXPECT_EQ(m.rawdata, (std::vector<float>{0.1f, 2.0f, 1e-3f, 2.5f}));
  EXPECT_EQ(m.usik, (std::vector<float>{0.01f, 0.0f, -1.0f, 0.5f}));  // missing values stay stored
  // The fit's tables are sized by the problem the readers filled.
  const FitState state = FitState::sized_for(m);
  EXPECT_EQ(state.dy.size(), 4u);
  EXPECT_EQ(state.x.size(), 4u);
  EXPECT_EQ(state.t.size(), 2u);
}

TEST(DataFile, LongTextsAreKeptWhole) {
  TempDir dir;
  TestModel m = na_cl(dir);
  std::string title(5000, 'T'), heading(300, 'D'), id(1000, 'i');
  read_data(m, dir.write("data", title + "\t\n" + heading + "\tNa\tu\tCl\tu\n" + id + "\t1\t1\t1\t1\n"));
  EXPECT_EQ(m.text, title);
  EXPECT_EQ(m.xnavn, heading);
  EXPECT_EQ(m.id(0), id);
}

TEST(DataFile, UnusableFilesAreRejectedNamingFileAndLine) {
  TempDir dir;
  std::string f = dir.file("data");
  struct Case {
    std::string content;
    std::string message;
  };
  const std::string head = "T\t\nD\tNa\tu\tCl\tu\n";
  const Case cases[] = {
      {"\tT\nD\tNa\tu\tCl\tu\nr\t1\t1\t1\t1\n", "Error: " + f + " line 1: the title cell is empty!\n"},
      {"", "Error: " + f + " line 1: the title cell is empty!\n"},
      {head, "Error: " + f + ": no data records after the heading line!\n"},
      {head + "r\t1\t1\t1\tx\n", "Error: " + f + " line 3: 'x' is not a number!\n"},
      {head + "r\t1\t1\t1\tnan\n", "Error: " + f + " line 3: 'nan' is not a finite number!\n"},
      {head + "r\t1\t1\t1\t1\nr2\t1\t1\n",
       "Error: " + f + " line 4: 2 numbers where 4 are expected (a value and an uncertainty for each of 2 variables)!\n"},
  };
  for (const Case& c : cases) {
    TestModel m = na_cl(dir);
    dir.write("data", c.content);
    EXPECT_EQ(failure_of([&] { read_data(m, f); }), c.message) << c.content;
  }
}
