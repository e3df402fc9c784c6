// The report's chart layer and date reading: escaping, round-number ticks,
// thinning of long series, identifiers read as dates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "report/bootstrap_charts.h"
#include "report/dates.h"
#include "report/svg_chart.h"

TEST(ReportChart, EscapesMarkupAndReplacesBytesXmlForbids) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c&#39;"},
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"\xc2\xb5g/m\xc2\xb3", "\xc2\xb5g/m\xc2\xb3"},  // valid UTF-8 stays
      {"\xb5g", "\xef\xbf\xbdg"},                      // a Latin-1 byte is not UTF-8
      {"a\x01" "b\x7f", "a\xef\xbf\xbd" "b\xef\xbf\xbd"},  // control characters
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // a surrogate is not a character
      {"\xe2\x82", "\xef\xbf\xbd\xef\xbf\xbd"},        // cut sequence
  };
  for (const Case& c : cases) EXPECT_EQ(escape_text(c.in), c.out) << c.in;
}

TEST(ReportChart, TicksAreRoundNumbersCoveringTheRange) {
  struct Case {
    double lo, hi;
    std::vector<double> ticks;
  };
  const Case cases[] = {
      {0, 1, {0, 0.2, 0.4, 0.6, 0.8, 1}},
      {0, 97, {0, 20, 40, 60, 80}},
      {-3, 3, {-2, 0, 2}},
      {0.67, 2.96, {1, 1.5, 2, 2.5}},
      {1, 50, {10, 20, 30, 40, 50}},
  };
  for (const Case& c : cases) {
    std::vector<double> ticks = linear_ticks(c.lo, c.hi, 5);
    ASSERT_EQ(ticks.size(), c.ticks.size()) << c.lo << " " << c.hi;
    for (std::size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i], c.ticks[i], 1e-12);
  }
  EXPECT_EQ(log_ticks(1e-5, 10), (std::vector<double>{1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1, 10}));
  EXPECT_EQ(log_ticks(1e-12, 1e12).size(), 25u);  // every decade; the axis thins the labels
  EXPECT_EQ(tick_label(0.30000000000000004), "0.3");
  EXPECT_EQ(tick_label(1e-5), "1e-05");
}

TEST(ReportChart, ThinningKeepsPeaksAndStaysLight) {
  std::vector<double> xs, ys;
  for (int i = 0; i < 100000; ++i) {
    xs.push_back(i);
    ys.push_back(i == 54321 ? 1000.0 : i == 777 ? -50.0 : std::sin(i * 0.01));
  }
  std::vector<double> tx, ty;
  thin_by_column(xs, ys, 500, &tx, &ty);
  EXPECT_LE(tx.size(), 4u * 501);
  EXPECT_EQ(tx.front(), 0.0);
  EXPECT_EQ(tx.back(), 99999.0);
  EXPECT_TRUE(std::is_sorted(tx.begin(), tx.end()));
  EXPECT_NE(std::find(ty.begin(), ty.end(), 1000.0), ty.end());
  EXPECT_NE(std::find(ty.begin(), ty.end(), -50.0), ty.end());
  // A short series is drawn whole.
  thin_by_column({1, 2, 3}, {4, 5, 6}, 500, &tx, &ty);
  EXPECT_EQ(tx, (std::vector<double>{1, 2, 3}));
}

TEST(ReportChart, ChartTextIsEscaped) {
  Chart chart(300, 200, "Title <&>");
  chart.legend({"F<1>", "F&2"});
  chart.x_categories({"V\"1", "V'2"}, "x <label>");
  chart.y_axis(0, 1, false, "y & label");
  chart.bars({0.5, 2.0}, factor_colour(0));
  const std::string svg = chart.svg();
  for (const char* raw : {"<&>", "F<1>", "F&2", "V\"1", "V'2", "<label>", "y & label"}) {
    EXPECT_EQ(svg.find(raw), std::string::npos) << raw;
  }
  EXPECT_NE(svg.find("Title &lt;&amp;&gt;"), std::string::npos);
  EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
}

// Names on axes and legends: shown whole up to their limit, beyond it shortened
// with an ellipsis (never inside a UTF-8 character) and the full name as the
// tooltip; the margin grows so that a long name is not cut at the edge.
TEST(ReportChart, LongNamesAreShortenedWithTheirFullNameAsTooltip) {
  EXPECT_EQ(shortened_name("124-Trimethylbenzene", 18), "124-Trimethylbenz\xe2\x80\xa6");
  EXPECT_EQ(shortened_name("Secondary sulfate", 18), "Secondary sulfate");
  EXPECT_EQ(shortened_name("\xc2\xb5\xc2\xb5\xc2\xb5", 2), "\xe2\x80\xa6");  // the cut backs up to a character
  Chart chart(880, 250, "t");
  chart.legend({"Secondary sulfate", "A very long factor name of thirty"});
  chart.x_categories({"124-Trimethylbenzene", "Se"}, "");
  chart.y_axis(0, 1, false, "y");
  const std::string svg = chart.svg();
  EXPECT_NE(svg.find("<title>124-Trimethylbenzene</title>124-Trimethylbenz\xe2\x80\xa6"), std::string::npos);
  EXPECT_NE(svg.find(">Secondary sulfate</text>"), std::string::npos);
  EXPECT_NE(svg.find("<title>A very long factor name of thirty</title>"), std::string::npos);
  EXPECT_NE(svg.find(">Se</text>"), std::string::npos);
}

// A log axis labels every decade it spans when there is room, and marks the zero
// elements that no bar can show.
TEST(ReportChart, LogAxesLabelEveryDecadeAndMarkZeros) {
  Chart chart(880, 340, "t");
  chart.x_categories({"a", "b", "c"}, "");
  chart.y_axis(1e-7, 10, true, "profile");
  chart.bars({1e-6, 0.0, 5.0}, factor_colour(0));
  chart.zero_marks({1e-6, 0.0, 5.0});
  const std::string svg = chart.svg();
  for (const char* label : {">1e-07<", ">1e-06<", ">1e-05<", ">0.0001<", ">0.001<", ">0.01<", ">0.1<", ">1<", ">10<"}) {
    EXPECT_NE(svg.find(label), std::string::npos) << label;
  }
  EXPECT_EQ(std::count(svg.begin(), svg.end(), 'Z'), 1) << "one triangle, for b";
  // Twenty-four decades in a short chart: labels on every second or fifth one only.
  Chart crowded(300, 200, "t");
  crowded.y_axis(1e-12, 1e12, true, "y");
  const std::string many = crowded.svg();
  EXPECT_NE(many.find(">1e-10<"), std::string::npos);
  EXPECT_EQ(many.find(">1e-11<"), std::string::npos);
}

TEST(ReportDates, IdentifiersInCommonFormsAreDates) {
  const double june22 = static_cast<double>(days_from_civil(2001, 6, 22));
  struct Case {
    const char* id;
    double day;
  };
  const Case dates[] = {
      {"2001-06-22", june22},
      {"2001-06-22 12:00", june22 + 0.5},
      {"2001-06-22T06:00:00", june22 + 0.25},
      {"6/22/2001", june22},
      {"6/22/2001 0:00", june22},
      {"06/22/2001 18:00", june22 + 0.75},
      {"22.06.2001", june22},
      {"22.06.2001 12:00", june22 + 0.5},
      {"2000-02-29", static_cast<double>(days_from_civil(2000, 2, 29))},
      {"1970-01-01", 0.0},
  };
  for (const Case& c : dates) {
    std::optional<double> day = parse_date(c.id);
    ASSERT_TRUE(day.has_value()) << c.id;
    EXPECT_DOUBLE_EQ(*day, c.day) << c.id;
  }
  for (const char* id : {"", "d1", "2001-13-01", "2001-02-29", "22/6/2001", "32.01.2001", "2001-06-22x", "6/22/01",
                         "2001-06-22 25:00", "12345", "2001/06/22"}) {
    EXPECT_FALSE(parse_date(id).has_value()) << id;
  }
  EXPECT_EQ(weekday_of(june22), 4);  // a Friday
  EXPECT_EQ(month_of(june22 + 0.9), 6);
  int y = 0, m = 0, d = 0;
  civil_from_days(days_from_civil(1999, 12, 31) + 1, &y, &m, &d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000101);
}

TEST(ReportDates, TicksFallOnWholeYearsMonthsOrDays) {
  const auto day = [](int y, int m, int d) { return static_cast<double>(days_from_civil(y, m, d)); };
  std::vector<DateTick> years = date_ticks(day(1995, 3, 1), day(2005, 3, 1));
  ASSERT_FALSE(years.empty());
  EXPECT_EQ(years.front().label, "1996");
  std::vector<DateTick> months = date_ticks(day(2001, 6, 15), day(2002, 5, 20));
  ASSERT_FALSE(months.empty());
  EXPECT_EQ(months.front().label, "2001-07");
  for (const DateTick& t : months) EXPECT_EQ(t.label.substr(7), "") << t.label;
  std::vector<DateTick> days = date_ticks(day(2001, 6, 1), day(2001, 6, 8));
  ASSERT_EQ(days.size(), 8u);
  EXPECT_EQ(days[1].label, "2001-06-02");
}

namespace {

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

// One chart per factor with a box per variable; a box with a cell that is not a
// number is left out rather than drawn at a made-up place.
TEST(ReportBootstrap, OneChartPerFactorWithABoxPerVariable) {
  TextTable t;
  t.headings = {"factor", "variable", "base", "p05", "p25", "p50", "p75", "p95", "replicates"};
  t.rows = {{"A", "SO4", "2", "1", "1.5", "2", "2.5", "3", "10"},
            {"A", "Si", "0.1", "0", "0.05", "0.1", "0.2", "0.4", "10"},
            {"B", "SO4", "1", "0.5", "0.8", "1", "1.2", "1.5", "9"},
            {"B", "Si", "0", "nan", "nan", "nan", "nan", "nan", "0"}};
  const auto charts = bootstrap_charts(t);
  ASSERT_EQ(charts.size(), 2u);
  EXPECT_EQ(charts[0].first, "A");
  EXPECT_EQ(charts[1].first, "B");
  EXPECT_EQ(count_of(charts[0].second, "stroke=\"#444\" x="), 2u);  // the two boxes of A
  EXPECT_EQ(count_of(charts[1].second, "stroke=\"#444\" x="), 1u);  // B's Si has no replicates
}

TEST(ReportBootstrap, FactorsMappedInFewerThanFourFifthsOfTheReplicatesAreMarked) {
  struct Case {
    const char* mapped;
    const char* unmapped;
    bool weak;
  };
  const Case cases[] = {{"80", "20", false}, {"79", "21", true}, {"100", "0", false},
                        {"0", "0", true},    {"48", "52", true}, {"x", "1", true}};
  TextTable t;
  for (const Case& c : cases) t.rows.push_back({"F", c.mapped, c.unmapped, "0"});
  const std::vector<bool> weak = weakly_mapped(t);
  ASSERT_EQ(weak.size(), std::size(cases));
  for (std::size_t k = 0; k < weak.size(); ++k) EXPECT_EQ(weak[k], cases[k].weak) << cases[k].mapped << " of 100";
}
