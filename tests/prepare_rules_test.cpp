// The rules of `tarnok prepare`: uncertainties from detection limits, the species
// statistics and categories, names for the fit, numbers that read back exactly,
// starting profiles, sample dates and the names of totals.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "measured/measured_table.h"
#include "prepare/fit_files.h"
#include "prepare/sample_checks.h"
#include "prepare/sample_dates.h"
#include "prepare/species_table.h"
#include "reference/reference.h"
#include "start/factorisation.h"
#include "start/starting_model.h"
#include "prepare/uncertainty.h"
#include "support.h"

namespace {

TEST(PrepareRules, UncertaintyFromDetectionLimitAgainstHandWorkedNumbers) {
  struct Case {
    float value;
    DetectionLimit limit;
    double expected;
  };
  const Case cases[] = {
      {0.05f, {0.1, 0.1}, 0.1 * 5 / 6},             // below the limit: 5/6 x MDL
      {0.1f, {static_cast<double>(0.1f), 0.1}, 0.0833333333},  // at the limit too (both read as float)
      {-0.2f, {0.1, 0.1}, 0.0833333333},            // a negative value is below it
      {2.0f, {0.1, 0.1}, 0.2061552813},             // sqrt(0.2^2 + 0.05^2) = sqrt(0.0425)
      {1.2f, {0.4, 0.5}, 0.6324555320},             // sqrt(0.6^2 + 0.2^2) = sqrt(0.4)
      {3.0f, {1.0, 0.0}, 0.5},                      // no relative error: 0.5 x MDL
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(static_cast<double>(mdl_uncertainty(c.value, c.limit)), c.expected, 1e-7) << c.value;
  }
}

TEST(PrepareRules, DetectionLimitTable) {
  TempDir dir;
  const std::string path = dir.write("mdl.csv", "species,MDL,fraction\nNa,0.1,0.05\n\"Cl\",0.2,0.1\n,,\n");
  std::vector<DetectionLimit> l = read_detection_limits(path, '\0', {"Cl", "Na"});
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].mdl, static_cast<double>(0.2f));
  EXPECT_EQ(l[1].fraction, static_cast<double>(0.05f));
  EXPECT_EQ(failure_of([&] { read_detection_limits(path, '\0', {"Na", "Si", "Fe"}); }),
            "Error: " + path + ": no detection limit for Si, Fe!\n");
  const std::string zero = dir.write("zero.csv", "Na,0,0.05\n");
  EXPECT_EQ(failure_of([&] { read_detection_limits(zero, '\0', {"Na"}); }),
            "Error: " + zero + " line 1, species Na: the detection limit must be above zero and the error fraction at "
                               "least zero!\n");
}

// A hand-worked table: values x and uncertainties u of one species in four samples.
//   x:  2    0.5  3    (missing)
//   u:  1    1    0.5  1
// S/N terms (x - u)/u where x > u: 1, 0, 5; mean over the 3 present values: 2.
TEST(PrepareRules, SpeciesStatisticsAgainstAHandWorkedTable) {
  TempDir dir;
  MeasuredTable x = read_measured(dir.write("x.csv", "D,A,B\n1,2,0.2\n2,0.5,0.3\n3,3,0.9\n4,NA,0.8\n"), '\0', {});
  MeasuredTable u = read_measured(dir.write("u.csv", "D,A,B\n1,1,0.5\n2,1,0.5\n3,0.5,0.5\n4,1,0.5\n"), '\0', {}, &x);
  std::vector<Species> s = classify_species(x, {}, {}, "");
  describe_species(s, x, u, {0.6, 0.25});
  EXPECT_DOUBLE_EQ(s[0].signal_to_noise, 2.0);
  EXPECT_DOUBLE_EQ(s[0].share_missing, 0.25);
  EXPECT_DOUBLE_EQ(s[0].share_below, 1.0 / 3.0);
  EXPECT_EQ(s[0].minimum, 0.5);
  EXPECT_EQ(s[0].median, 2.0);
  EXPECT_EQ(s[0].maximum, 3.0);
  EXPECT_EQ(s[0].suggested, Category::strong);
  // B: only 0.9 and 0.8 exceed 0.5: (0.4 + 0.3) / 0.5 / 4 = 0.35 -> bad; median of 4 values.
  EXPECT_NEAR(s[1].signal_to_noise, 0.35, 1e-7);
  EXPECT_EQ(s[1].suggested, Category::bad);
  EXPECT_DOUBLE_EQ(s[1].share_below, 0.25);
  EXPECT_NEAR(s[1].median, 0.55, 1e-7);
}

TEST(PrepareRules, CategoriesAndNamesForTheFit) {
  TempDir dir;
  MeasuredTable x = read_measured(
      dir.write("x.csv", "D,Ammonium Ion measured,Sulfate,PM2.5,OM,Organic carbon with a long name\n1,1,2,3,4,5\n"),
      '\0', {});
  std::vector<Species> s = classify_species(x, {"OM"}, {"Sulfate"}, "PM2.5");
  EXPECT_EQ(s[0].category, Category::strong);
  EXPECT_EQ(s[0].fit_name, "Ammonium Ion measur");
  EXPECT_EQ(s[1].category, Category::weak);
  EXPECT_EQ(s[2].category, Category::total);
  EXPECT_EQ(s[3].category, Category::bad);
  EXPECT_EQ(s[4].fit_name, "Organic carbon with");  // no trailing space after the cut
  EXPECT_EQ(failure_of([&] { classify_species(x, {"om", "Iron"}, {}, ""); }),
            "Error: no species named om, Iron in " + x.path + " (names are matched in full)!\n");

  MeasuredTable clash = read_measured(
      dir.write("c.csv", "D,Organic carbon fraction 1,Organic carbon fraction 2,Organic carbon fraction 3\n1,1,2,3\n"),
      '\0', {});
  EXPECT_EQ(failure_of([&] { classify_species(clash, {}, {}, ""); }),
            "Error: species names must differ within their first 19 characters, which is all the fit keeps: Organic "
            "carbon fraction 1, Organic carbon fraction 2, Organic carbon fraction 3 (all 'Organic carbon frac'). "
            "Rename them in the tables or leave some out with --bad!\n");
  // Leaving all but one out settles the clash.
  EXPECT_EQ(failure_of([&] {
              classify_species(clash, {"Organic carbon fraction 1", "Organic carbon fraction 2"}, {}, "");
            }),
            "");
}

// Every float written reads back as the same float through the fit's reading:
// decimal text to double, then rounded to float.
TEST(PrepareRules, WrittenNumbersReadBackExactly) {
  SplitMix64 rng(7);
  std::string text;
  for (int i = 0; i < 200000; ++i) {
    std::uint32_t bits = static_cast<std::uint32_t>(rng.next());
    float value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    text.clear();
    append_float(text, value);
    double back = 0.0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_TRUE(ec == std::errc() && ptr == text.data() + text.size()) << text;
    ASSERT_EQ(static_cast<float>(back), value) << text;
  }
}

TEST(PrepareRules, StartingProfilesArePositiveAndFollowTheSeed) {
  WeightedData d;
  d.nsamples = 60;
  d.nvar = 5;
  SplitMix64 rng(3);
  for (int s = 0; s < d.nsamples; ++s) {
    for (int v = 0; v < d.nvar; ++v) {
      d.x.push_back(s % 3 == v % 3 ? 1.0 + rng.uniform() : 0.01 * rng.uniform());
      d.u.push_back(v == 4 && s % 7 == 0 ? 0.0 : 0.1);  // a few missing cells
    }
  }
  for (StartConstruction c : {StartConstruction::spread, StartConstruction::nmf}) {
    std::vector<double> p1 = starting_profiles(d, 3, 1, c);
    ASSERT_EQ(p1.size(), 15u);
    for (double e : p1) EXPECT_GT(e, 0.0);
    EXPECT_EQ(p1, starting_profiles(d, 3, 1, c));
    EXPECT_NE(p1, starting_profiles(d, 3, 2, c));
    // Thinned to 20 samples it still gives a model of the same shape.
    EXPECT_EQ(starting_profiles(d, 3, 1, c, 20).size(), 15u);
  }
}

// The factorisation runs its sums a sample row and four factors at a time; each
// element must still get the operations of the literal loops in their order, or
// prepare's profile files and the fit's fresh starts would change. Shapes cover
// factor counts below, at and past a block of four and data with missing values.
TEST(PrepareRules, StartingFactorisationIsItsLiteralLoopsBitForBit) {
  struct Shape {
    std::size_t samples, variables, factors;
  };
  const Shape shapes[] = {{1, 1, 1}, {7, 5, 3}, {30, 41, 4}, {25, 13, 5}, {12, 9, 8}, {40, 3, 9}};
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(testing::Message() << shape.samples << " x " << shape.variables << ", " << shape.factors);
    SplitMix64 rng(shape.samples * 100 + shape.factors);
    std::vector<double> x, w, g, f;
    for (std::size_t e = 0; e < shape.samples * shape.variables; ++e) {
      x.push_back(e % 11 == 3 ? 0.0 : 10.0 * rng.uniform());
      w.push_back(e % 7 == 2 ? 0.0 : 1.0 / (0.1 + rng.uniform()));  // every seventh value missing
    }
    for (std::size_t e = 0; e < shape.samples * shape.factors; ++e) g.push_back(0.5 + rng.uniform());
    for (std::size_t e = 0; e < shape.factors * shape.variables; ++e) f.push_back(0.5 + rng.uniform());
    std::vector<double> literal_g = g, literal_f = f;
    factorise(shape.samples, shape.variables, shape.factors, x.data(), w.data(), g.data(), f.data());
    reference::factorise(shape.samples, shape.variables, shape.factors, x.data(), w.data(), literal_g.data(),
                         literal_f.data());
    EXPECT_EQ(0, std::memcmp(g.data(), literal_g.data(), g.size() * sizeof(double)));
    EXPECT_EQ(0, std::memcmp(f.data(), literal_f.data(), f.size() * sizeof(double)));
    EXPECT_NE(f[0], 0.5);  // the updates ran
  }
}

TEST(PrepareRules, SplitMix64IsTheDefinedSequence) {
  // First outputs of splitmix64 from seed 0, as published with the generator.
  SplitMix64 rng(0);
  EXPECT_EQ(rng.next(), 0xE220A8397B1DCDAFULL);
  EXPECT_EQ(rng.next(), 0x6E789E6AA1B965F4ULL);
}

// Each spelling in each order: the date (or none), and whether the report reads
// the identifier as that same date as it stands.
TEST(PrepareRules, SampleDatesInEachOrder) {
  struct Case {
    const char* id;
    DateOrder order;
    const char* date;  // "" when the identifier is no date in that order
    bool report_form;
  };
  const Case cases[] = {
      {"2001-06-22", DateOrder::ymd, "2001-06-22", true},
      {"2001-6-2 13:05", DateOrder::ymd, "2001-06-02", true},
      {"2001-06-22T13:05:59", DateOrder::ymd, "2001-06-22", true},
      {"2001/06/22", DateOrder::ymd, "2001-06-22", false},
      {"20010622", DateOrder::ymd, "2001-06-22", false},
      {"20010622", DateOrder::dmy, "", false},          // eight digits are year first only
      {"01-06-22", DateOrder::ymd, "", false},          // a year first has four digits
      {"6/22/2001 0:00", DateOrder::mdy, "2001-06-22", true},
      {"6/22/2001 0:00", DateOrder::dmy, "", false},    // month 22
      {"06/22/01", DateOrder::mdy, "2001-06-22", false},
      {"06/22/68", DateOrder::mdy, "2068-06-22", false},  // two-digit years: 1969 to 2068
      {"06/22/69", DateOrder::mdy, "1969-06-22", false},
      {"22.06.2001", DateOrder::dmy, "2001-06-22", true},
      {"22/06/2001", DateOrder::dmy, "2001-06-22", false},
      {"22-Jun-2001", DateOrder::dmy, "2001-06-22", false},
      {"22 june 2001", DateOrder::dmy, "2001-06-22", false},
      {"Jun/22/2001", DateOrder::mdy, "2001-06-22", false},
      {"22-Jun-2001", DateOrder::mdy, "", false},
      {"22/06-2001", DateOrder::dmy, "", false},        // two separators
      {"29/02/2001", DateOrder::dmy, "", false},        // no leap year
      {"29/02/2000", DateOrder::dmy, "2000-02-29", false},
      {"2001-06-22 25:00", DateOrder::ymd, "", false},  // no such hour
      {"2001-06-22x", DateOrder::ymd, "", false},
      {"22/06/2001/3", DateOrder::dmy, "", false},
      {"d1", DateOrder::dmy, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const std::optional<SampleDate> d = read_sample_date(c.id, c.order);
    ASSERT_EQ(d.has_value(), *c.date != '\0');
    if (!d) continue;
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d->year, d->month, d->day);
    EXPECT_EQ(std::string(text), c.date);
    EXPECT_EQ(d->report_form, c.report_form);
  }
}

TEST(PrepareRules, NamesOfTotals) {
  for (const char* name : {"PM2.5", "pm25", "PM 2.5", "PM10", "Mass", "PM2.5 mass", "TNMOC", "Total", "total_mass"}) {
    EXPECT_TRUE(names_a_total(name)) << name;
  }
  for (const char* name : {"Massive", "PM2.5 nitrate", "Sulfate", "OC", "EC", "Pb"}) {
    EXPECT_FALSE(names_a_total(name)) << name;
  }
}

}  // namespace

// Each species' unit: from the values' heading, else the uncertainties', else
// --unit (one species by name, or every species still without one); a --unit that
// contradicts a heading or names no species fails; species.tsv gets a unit column
// only when some species has a unit.
TEST(PrepareRules, UnitsFromHeadingsAndOptions) {
  TempDir dir;
  const MeasuredTable x = read_measured(dir.write("x.csv", "D,Na (ug/m3),Cl,K,Ca\n1,1,2,3,4\n"), '\0', {});
  const std::vector<std::string> from_u = {"", "ng/m3", "", ""};
  struct Case {
    std::vector<std::string> given;
    std::vector<std::string> units;
  };
  const Case cases[] = {
      {{}, {"ug/m3", "ng/m3", "", ""}},
      {{"K=ppb"}, {"ug/m3", "ng/m3", "ppb", ""}},
      {{"ug/m3", "K=ppb"}, {"ug/m3", "ng/m3", "ppb", "ug/m3"}},
      {{"Na=ug/m3"}, {"ug/m3", "ng/m3", "", ""}},  // the heading's own unit again
  };
  for (const Case& c : cases) {
    std::vector<Species> s = classify_species(x, {}, {}, "");
    assign_units(s, x.units, from_u, c.given);
    std::vector<std::string> units;
    for (const Species& sp : s) units.push_back(sp.unit);
    EXPECT_EQ(units, c.units) << c.given.size();
  }
  std::vector<Species> s = classify_species(x, {}, {}, "");
  EXPECT_EQ(failure_of([&] { assign_units(s, x.units, from_u, {"Cl=ug/m3"}); }),
            "Error: --unit Cl=ug/m3: the heading of Cl gives the unit ng/m3!\n");
  EXPECT_EQ(failure_of([&] { assign_units(s, x.units, from_u, {"Fe=ug/m3"}); }),
            "Error: --unit Fe=ug/m3: no species named Fe!\n");

  auto heading_of = [&](const std::vector<Species>& species) {
    const std::string path = dir.file("species.tsv");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    write_species_table(species, out, false);
    std::fclose(out);
    const std::vector<std::string> lines = lines_of(read_file(path));
    return std::make_pair(cells_of(lines[0]).back(), cells_of(lines[3]).back());
  };
  assign_units(s, x.units, from_u, {});
  EXPECT_EQ(heading_of(s), std::make_pair(std::string("unit"), std::string("-")));  // K has none
  assign_units(s, {}, {}, {});
  EXPECT_EQ(heading_of(s), std::make_pair(std::string("suggested"), std::string("strong")));
}
