#include "formats/fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(SplitTabs, EveryRunOfNonTabsIsOneFieldAndEmptyFieldsDoNotExist) {
  struct Case {
    std::string line;
    std::vector<std::string> fields;
  };
  const Case cases[] = {
      {"\tA\tB\tC", {"A", "B", "C"}},
      {"\t\tA\t\tB\t", {"A", "B"}},
      {"Name\tx y\t", {"Name", "x y"}},
      {"", {}},
      {"\t\t", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    for (std::string_view f : split_tabs(c.line)) got.emplace_back(f);
    EXPECT_EQ(got, c.fields) << "line: " << c.line;
  }
}
