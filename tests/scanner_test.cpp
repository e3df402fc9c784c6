#include "formats/scanner.h"

#include <gtest/gtest.h>

#include "control/failure.h"
#include "support.h"

TEST(Scanner, LineEndsOfEveryKindAndTheByteOrderMarkReadAlike) {
  TempDir dir;
  const std::string plain = "ab\tc\nd\n";
  const std::string variants[] = {plain, "ab\tc\r\nd\r\n", "ab\tc\rd\r", "\xEF\xBB\xBF" "ab\tc\r\nd\r\n"};
  for (const std::string& content : variants) {
    Scanner in(dir.write("f", content));
    std::string first, rest;
    in.read_until(&first, '\t', '\n');
    in.skip_space();
    in.read_until(&rest, '\n');
    in.skip_space();
    EXPECT_EQ(first, "ab");
    EXPECT_EQ(rest, "c");
    EXPECT_EQ(in.line(), 2);
    EXPECT_EQ(in.get(), 'd');
  }
}

TEST(Scanner, NumbersAreReadByCountAcrossAnyWhiteSpace) {
  TempDir dir;
  Scanner in(dir.write("f", "1.5\t-2e3\n\n  +7 0x10 .25\v1e-400\t42\n"));
  EXPECT_EQ(in.read_double(), 1.5);
  EXPECT_EQ(in.read_double(), -2000.0);
  EXPECT_EQ(in.read_double(), 7.0);
  EXPECT_EQ(in.read_double(), 16.0);
  EXPECT_EQ(in.read_double(), 0.25);
  EXPECT_EQ(in.read_double(), 0.0);  // underflows to zero as the C library reads it
  EXPECT_EQ(in.read_int(), 42);
  EXPECT_TRUE(in.at_end());
}

TEST(Scanner, CellsThatAreNotNumbersNameFileLineAndText) {
  TempDir dir;
  struct Case {
    std::string content;
    bool as_int;
    std::string message;
  };
  const std::string f = dir.file("f");
  const Case cases[] = {
      {"1\n2\nabc 3\n", false, "Error: " + f + " line 3: 'abc' is not a number!\n"},
      {"1\n2\n1,5\n", false, "Error: " + f + " line 3: '1,5' is not a number!\n"},
      {"1 nan", false, "Error: " + f + " line 1: 'nan' is not a finite number!\n"},
      {"1 -inf", false, "Error: " + f + " line 1: '-inf' is not a finite number!\n"},
      {"1 1e999", false, "Error: " + f + " line 1: '1e999' is not a finite number!\n"},
      {"1 1.0", true, "Error: " + f + " line 1: '1.0' is not an integer!\n"},
      {"1\n", false, "Error: " + f + " line 2: the file ends before all numbers are read!\n"},
  };
  for (const Case& c : cases) {
    dir.write("f", c.content);
    Scanner in(f);
    std::string message = failure_of([&] {
      for (int i = 0; i < 3; ++i) c.as_int ? in.read_int() : in.read_double();
    });
    EXPECT_EQ(message, c.message) << c.content;
  }
  // A value beyond the float range is refused where it is stored as float.
  dir.write("f", "1e39");
  Scanner in(f);
  EXPECT_EQ(failure_of([&] { in.read_double(true); }), "Error: " + f + " line 1: '1e39' is not a finite number!\n");
}

TEST(Scanner, NulByteAndMissingFileAreErrors) {
  TempDir dir;
  std::string f = dir.write("f", std::string("ab\ncd\0e\n", 8));
  EXPECT_EQ(failure_of([&] { Scanner in(f); in.skip_until('\n'); }), "Error: " + f + " line 2: NUL byte in the file!\n");
  EXPECT_EQ(failure_of([&] { Scanner in(dir.file("none")); }), "Error: Can't find " + dir.file("none") + "!\n");
}

TEST(Scanner, LongCellsAndLinesCrossTheReadBuffer) {
  TempDir dir;
  std::string digits = "1." + std::string(3 << 20, '5');
  std::string name(2 << 20, 'x');
  Scanner in(dir.write("f", name + "\t" + digits + "\n\n\nz\ny \n \t\n"));
  std::string got;
  in.read_until(&got, '\t', '\n', 19);
  EXPECT_EQ(got, std::string(19, 'x'));
  EXPECT_EQ(in.skip_until('\t'), name.size() - 19);
  in.skip_space();
  EXPECT_DOUBLE_EQ(in.read_double(), 1.5555555555555556);
  EXPECT_EQ(in.line(), 4);
  EXPECT_EQ(in.count_lines(), 2);  // blank and white-space-only lines do not count
}
