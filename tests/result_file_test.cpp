#include "output/result_file.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "support.h"

namespace {

std::string write_to_text(TestModel& m, const char* rotate_arg) {
  TempDir dir;
  std::string path = dir.file("result.tsv");
  std::FILE* out = std::fopen(path.c_str(), "wb");
  write_result(m, out, rotate_arg);
  std::fclose(out);
  return read_file(path);
}

TestModel two_factor_model() {
  TestModel m = make_model(2, 3, 4);
  m.faktnavn = {"A", "B"};
  m.varnavn = {"Na", "Cl", "K"};
  m.text = "Title";
  m.xnavn = "Date";
  m.ids.clear();
  m.id_end.clear();
  for (const char* id : {"d1", "d2", "d3", "d4"}) {
    m.ids += id;
    m.id_end.push_back(m.ids.size());
  }
  for (std::size_t i = 0; i < m.x.size(); ++i) m.x[i] = 1.0 + static_cast<double>(i % 3);
  for (std::size_t i = 0; i < m.p.size(); ++i) m.p[i] = 0.5 * static_cast<double>(i);
  for (std::size_t i = 0; i < m.usik.size(); ++i) {
    m.usik[i] = 1.0f;
    m.rawdata[i] = static_cast<float>(i % 5);
    m.dy[i] = i % 2 ? 0.25f : -0.5f;
  }
  m.ny = {2, 2, 2};
  m.t = {0.1, 0.2, 0.3, 0.4};
  m.r = {1, 2, 3};
  m.chi2 = 123.5;
  m.nytot = 7;
  return m;
}

}  // namespace

TEST(ResultFile, LayoutCellByCell) {
  TestModel m = two_factor_model();
  std::vector<std::string> lines = lines_of(write_to_text(m, nullptr));
  ASSERT_EQ(lines.size(), 2u + 4u + 2u + 3u + 1u);
  EXPECT_EQ(lines[0], "Title");
  EXPECT_EQ(cells_of(lines[1]), (std::vector<std::string>{"Date", "A", "B", "Residue"}));
  EXPECT_EQ(cells_of(lines[2]), (std::vector<std::string>{"d1", "1", "2", "0.1"}));
  for (int s = 0; s < 4; ++s) EXPECT_EQ(cells_of(lines[static_cast<std::size_t>(2 + s)]).size(), 4u);

  // "TARNOK profiles:" above the first factor column, "Regression analysis:" above
  // the first coefficient column.
  std::vector<std::string> a = cells_of(lines[6]);
  std::vector<std::string> b = cells_of(lines[7]);
  EXPECT_EQ(b, (std::vector<std::string>{"", "A", "B", "Residue", "Chi2", "ny", "A", "s(A)", "B", "s(B)"}));
  ASSERT_EQ(a.size(), b.size() - 3);  // heading line A ends at its last label
  EXPECT_EQ(a[1], "TARNOK profiles:");
  EXPECT_EQ(a[6], "Regression analysis:");
  for (int v = 0; v < 3; ++v) {
    std::vector<std::string> row = cells_of(lines[static_cast<std::size_t>(8 + v)]);
    EXPECT_EQ(row.size(), 3u * 2u + 4u);
    EXPECT_EQ(row[5], "") << "the ny column stays empty";
  }
  EXPECT_EQ(cells_of(lines[8])[0], "Na");
  EXPECT_EQ(cells_of(lines[8])[1], "0");
  EXPECT_EQ(cells_of(lines[8])[2], "0.5");
  EXPECT_EQ(cells_of(lines[8])[3], "1");
  EXPECT_EQ(lines[11], "\t\t\t\t123.5\t7");  // under "Chi2" and "ny"
}

TEST(ResultFile, RotateArgumentIsRecordedAsTyped) {
  for (const char* arg : {"0.5", "abc"}) {
    TestModel m = two_factor_model();
    std::vector<std::string> lines = lines_of(write_to_text(m, arg));
    EXPECT_EQ(lines[0], std::string("Title\trotate=") + arg);
  }
}

TEST(ResultFile, NumbersPrintAsPercentLg) {
  TestModel m = two_factor_model();
  m.x[0] = 100000;
  m.x[1] = 1234567;
  m.t[0] = 1e-5;
  std::vector<std::string> lines = lines_of(write_to_text(m, nullptr));
  EXPECT_EQ(cells_of(lines[2]), (std::vector<std::string>{"d1", "100000", "1.23457e+06", "1e-05"}));
}
