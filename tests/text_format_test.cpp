// Formatted text of any length: around the size formatted at once, far beyond
// it, empty, and through fail().
#include <gtest/gtest.h>

#include <string>

#include "control/failure.h"
#include "control/text_format.h"
#include "support.h"

namespace {

TEST(TextFormat, TextIsWholeAtEveryLength) {
  // Lengths around the first formatting's room (256 bytes with the terminator)
  // and one far beyond any line the program prints.
  for (const std::size_t length : {1u, 254u, 255u, 256u, 257u, 1000u}) {
    const std::string text(length, 'x');
    EXPECT_EQ(format_text("%s", text.c_str()), text) << length;
    EXPECT_EQ(format_text("<%s|%d>", text.c_str(), 42), "<" + text + "|42>") << length;
  }
  const std::string name = std::string(995, 'F') + "01234";
  EXPECT_EQ(format_text("Bootstrap factor %s: mapped in %d of %d fitted replicates.\n", name.c_str(), 2, 3),
            "Bootstrap factor " + name + ": mapped in 2 of 3 fitted replicates.\n");
}

TEST(TextFormat, EmptyResultIsTheEmptyText) {
  EXPECT_EQ(format_text("%s", ""), "");
  EXPECT_TRUE(format_text("%.0s", "cut").empty());
}

TEST(TextFormat, FailKeepsTheWholeMessage) {
  const std::string path(1000, 'p');
  EXPECT_EQ(failure_of([&] { fail("Error: Can't find %s!\n", path.c_str()); }), "Error: Can't find " + path + "!\n");
}

}  // namespace
