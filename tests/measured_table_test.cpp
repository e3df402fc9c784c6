// The reader of measured tables: the delimiters and spreadsheet habits it accepts,
// the missing-value markers, and every error with its message.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "measured/measured_table.h"
#include "measured/species_unit.h"
#include "support.h"

namespace {

struct Layout {
  const char* name;
  std::string text;
  char forced;  // '\0': detect
  char delimiter;
};

// Every layout holds the same table: samples d1, d2; species Na, Cl.
TEST(MeasuredTable, ReadsEveryLayoutAlike) {
  const std::vector<Layout> layouts = {
      {"comma", "Date,Na,Cl\nd1,1.5,2\nd2,3,4e-1\n", '\0', ','},
      {"semicolon", "Date;Na;Cl\nd1;1.5;2\nd2;3;4e-1\n", '\0', ';'},
      {"semicolon with decimal commas", "Date;Na;Cl\nd1;1,5;2\nd2;3;0,4\n", '\0', ';'},
      {"tab", "Date\tNa\tCl\nd1\t1.5\t2\nd2\t3\t4e-1\n", '\0', '\t'},
      {"tab with commas in the names", "Date\t\"Na\"\tCl\nd1\t1.5\t2\nd2\t3\t0.4\n", '\0', '\t'},
      {"CR LF, byte-order mark", "\xEF\xBB\xBF" "Date,Na,Cl\r\nd1,1.5,2\r\nd2,3,0.4\r\n", '\0', ','},
      {"lone CR, no last line end", "Date,Na,Cl\rd1,1.5,2\rd2,3,0.4\r", '\0', ','},
      {"quoted cells", "\"Date\",\"Na\",\"Cl\"\n\"d1\",\"1.5\",2\n\"d2\", \"3\" ,0.4\n", '\0', ','},
      {"spreadsheet padding", "Date,Na,Cl,,\nd1,1.5,2,,\n\nd2,3,0.4,,\n,,,,\n,,,,\n", '\0', ','},
      {"tab padding", "Date\tNa\tCl\t\nd1\t1.5\t2\t\nd2\t3\t0.4\t\n\t\t\t\n", '\0', '\t'},
      {"forced semicolon beside commas", "Date;Na;Cl,x\nd1;1.5;2\nd2;3;0.4\n", ';', ';'},
      {"plus signs and spaces", "Date,Na,Cl\n d1 ,+1.5, 2\nd2,3 ,0.4\n", '\0', ','},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    TempDir dir;
    MeasuredTable t = read_measured(dir.write("c.csv", layout.text), layout.forced, MissingMarkers{});
    EXPECT_EQ(t.delimiter, layout.delimiter);
    EXPECT_EQ(t.id_heading, "Date");
    ASSERT_EQ(t.nsamples(), 2);
    EXPECT_EQ(t.id(0), "d1");
    EXPECT_EQ(t.id(1), "d2");
    if (std::string(layout.name) != "forced semicolon beside commas") {
      EXPECT_EQ(t.species, (std::vector<std::string>{"Na", "Cl"}));
    }
    EXPECT_EQ(t.row(0)[0], 1.5f);
    EXPECT_EQ(t.row(0)[1], 2.0f);
    EXPECT_EQ(t.row(1)[0], 3.0f);
    EXPECT_EQ(t.row(1)[1], static_cast<float>(0.4));
  }
}

TEST(MeasuredTable, QuotedCellsHoldDelimitersQuotesAndLineEnds) {
  TempDir dir;
  MeasuredTable t = read_measured(
      dir.write("c.csv", "Date,\"Na, dissolved\",\"Cl \"\"free\"\"\"\nd1,\"1\",2\nd2,3,4\n"), '\0', {});
  EXPECT_EQ(t.species, (std::vector<std::string>{"Na, dissolved", "Cl \"free\""}));
  // A line end inside quotes belongs to the cell; an identifier cannot hold one in
  // the fit's files.
  const std::string path = dir.write("n.csv", "Date,Na\n\"d1\nnight\",1\n");
  EXPECT_EQ(failure_of([&] { read_measured(path, '\0', {}); }),
            "Error: " + path + " line 2: the sample identifier 'd1\\x0anight' holds a tab or a line end!\n");
}

TEST(MeasuredTable, MarksMissingValues) {
  TempDir dir;
  MissingMarkers markers;
  markers.extra = {"<LOD", "n.d."};
  MeasuredTable t = read_measured(
      dir.write("c.csv", "Date,A,B,C,D,E,F,G,H,I\nd1,,NA,nan,nd,-999,-999.0,<LOD,n.d.,-998\n"), '\0', markers);
  for (int j = 0; j < 8; ++j) EXPECT_TRUE(std::isnan(t.row(0)[j])) << t.species[static_cast<std::size_t>(j)];
  EXPECT_EQ(t.row(0)[8], -998.0f);
}

TEST(MeasuredTable, LargeTablesCrossBlocksAndBuffers) {
  // 20000 samples x 40 species: several blocks of rows and several read buffers,
  // with rows cut at buffer ends (also between CR and LF).
  TempDir dir;
  std::string text = "Date";
  for (int j = 0; j < 40; ++j) text += ",S" + std::to_string(j);
  text += "\r\n";
  for (int s = 0; s < 20000; ++s) {
    text += "sample-" + std::to_string(s) + std::string(static_cast<std::size_t>(s % 97), 'x');
    for (int j = 0; j < 40; ++j) text += "," + std::to_string(s + j);
    text += "\r\n";
  }
  MeasuredTable t = read_measured(dir.write("c.csv", text), '\0', {});
  ASSERT_EQ(t.nsamples(), 20000);
  EXPECT_GT(t.blocks.size(), 2u);
  for (int s = 0; s < 20000; s += 997) {
    EXPECT_EQ(t.row(s)[0], static_cast<float>(s));
    EXPECT_EQ(t.row(s)[39], static_cast<float>(s + 39));
    EXPECT_EQ(t.id(s), "sample-" + std::to_string(s) + std::string(static_cast<std::size_t>(s % 97), 'x'));
  }
}

struct BadCase {
  const char* name;
  std::string values;
  std::string uncertainties;  // empty: read the values alone
  std::string message;        // with {V} and {U} for the two paths
};

TEST(MeasuredTable, RefusesBadTablesWithTheirPlace) {
  const std::string ok = "Date,Na,Cl\nd1,1,2\nd2,3,4\n";
  const std::vector<BadCase> cases = {
      {"a cell that is not a number", "Date,Na,Cl\nd1,1,2\nd2,3,n.d.\n", "",
       "Error: {V} line 3, species Cl: 'n.d.' is not a number!\n'n.d.' looks like a missing-value marker: 1 cell of "
       "species Cl holds it. Give --missing-marker 'n.d.' to read it as missing.\n"},
      {"infinite", "Date,Na,Cl\nd1,inf,2\n", "", "Error: {V} line 2, species Na: 'inf' is not a number!\n"},
      {"beyond float", "Date,Na,Cl\nd1,1e39,2\n", "", "Error: {V} line 2, species Na: '1e39' is not a number!\n"},
      {"too few cells", "Date,Na,Cl\nd1,1\n", "", "Error: {V} line 2: 2 cells, but the heading row has 3!\n"},
      {"a cell beyond the last species", "Date,Na,Cl\nd1,1,2,7\n", "",
       "Error: {V} line 2 column 4: '7' lies beyond the last species column!\n"},
      {"an empty identifier", "Date,Na,Cl\n,1,2\n", "", "Error: {V} line 2: the sample identifier is empty!\n"},
      {"an empty species name", "Date,Na,,Cl\nd1,1,2,3\n", "", "Error: {V} line 1 column 3: the species name is empty!\n"},
      {"no species", "Date\nd1\n", "", "Error: {V} line 1: no species columns after the first!\n"},
      {"no samples", "Date,Na\n,,\n", "", "Error: {V}: no sample rows after the heading row!\n"},
      {"empty file", "", "", "Error: {V}: the file holds no heading row!\n"},
      {"NUL byte", std::string("Date,Na\nd1,1\0\n", 14), "", "Error: {V} line 2: the file holds a NUL byte!\n"},
      {"open quote", "Date,Na\n\"d1,1\n", "", "Error: {V} line 2: a quoted cell is not closed before the end of the file!\n"},
      {"other species", ok, "Date,Na,Cu\nd1,1,2\nd2,3,4\n",
       "Error: {U} line 1 column 3: species 'Cu' where {V} has 'Cl'; both tables must hold the same species in the same "
       "order!\n"},
      {"fewer species", ok, "Date,Na\nd1,1\nd2,3\n",
       "Error: {U} line 1 column 3: species '(none)' where {V} has 'Cl'; both tables must hold the same species in the "
       "same order!\n"},
      {"other sample", ok, "Date,Na,Cl\nd1,1,2\nd3,3,4\n",
       "Error: {U} line 3 column 1: sample 'd3' where {V} line 3 has 'd2'; both tables must hold the same samples in the "
       "same order!\n"},
      {"fewer samples", ok, "Date,Na,Cl\nd1,1,2\n", "Error: {U} ends after 1 samples (line 2), but {V} has 2 (line 3)!\n"},
      {"more samples", ok, "Date,Na,Cl\nd1,1,2\nd2,3,4\nd3,5,6\n",
       "Error: {U} line 4 column 1: sample 'd3' lies beyond the last sample of {V} (line 3)!\n"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string v = dir.write("v.csv", c.values);
    std::string expected = c.message;
    auto put = [&](const std::string& key, const std::string& path) {
      for (std::size_t at; (at = expected.find(key)) != std::string::npos;) expected.replace(at, key.size(), path);
    };
    put("{V}", v);
    if (c.uncertainties.empty()) {
      EXPECT_EQ(failure_of([&] { read_measured(v, '\0', {}); }), expected);
    } else {
      const std::string u = dir.write("u.csv", c.uncertainties);
      put("{U}", u);
      MeasuredTable values = read_measured(v, '\0', {});
      EXPECT_EQ(failure_of([&] { read_measured(u, '\0', {}, &values); }), expected);
      // Read on its own and compared afterwards: the same message.
      MeasuredTable alone = read_measured(u, '\0', {});
      EXPECT_EQ(failure_of([&] { check_same_shape(alone, values); }), expected);
    }
  }
}

}  // namespace

// A heading's unit: the spellings analysts use, headings without one, and a unit in
// the uncertainties' heading that contradicts the values'.
TEST(MeasuredTable, UnitsFromHeadings) {
  struct Case {
    const char* heading;
    const char* name;
    const char* unit;
  };
  const Case cases[] = {
      {"Mass (ug/m3)", "Mass", "ug/m3"},
      {"SO4 [ug/m3]", "SO4", "ug/m3"},
      {"  NO3  ( ng/m3 ) ", "NO3", "ng/m3"},
      {"Benzene (ppbC)", "Benzene", "ppbC"},
      {"Ozone [PPB]", "Ozone", "PPB"},
      {"PM2.5 (\xc2\xb5g/m\xc2\xb3)", "PM2.5", "\xc2\xb5g/m\xc2\xb3"},
      {"OC (ug m-3)", "OC", "ug m-3"},
      {"Share (%)", "Share", "%"},
      {"Mass", "Mass", ""},               // none
      {"Fe (total)", "Fe (total)", ""},   // words in brackets are part of the name
      {"(ug/m3)", "(ug/m3)", ""},         // a unit without a name is a name
      {"Na (ug/m3", "Na (ug/m3", ""},     // not closed
      {"K [ug/m3) ", "K [ug/m3)", ""},    // brackets that do not pair
  };
  for (const Case& c : cases) {
    const NameAndUnit split = split_unit(c.heading);
    EXPECT_EQ(split.name, c.name) << c.heading;
    EXPECT_EQ(split.unit, c.unit) << c.heading;
  }
  TempDir dir;
  const MeasuredTable values =
      read_measured(dir.write("c.csv", "Date,Na (ug/m3),Cl [ng/m3],K\nd1,1,2,3\n"), '\0', MissingMarkers{});
  EXPECT_EQ(values.species, (std::vector<std::string>{"Na", "Cl", "K"}));
  EXPECT_EQ(values.units, (std::vector<std::string>{"ug/m3", "ng/m3", ""}));
  // The uncertainties may leave a unit out or give the same one, not another.
  EXPECT_NO_THROW(read_measured(dir.write("u1.csv", "Date,Na,Cl (ng/m3),K (ppb)\nd1,1,2,3\n"), '\0', MissingMarkers{},
                                &values));
  EXPECT_EQ(failure_of([&] {
              read_measured(dir.write("u2.csv", "Date,Na (ng/m3),Cl,K\nd1,1,2,3\n"), '\0', MissingMarkers{}, &values);
            }),
            "Error: " + dir.file("u2.csv") + " line 1 column 2: species 'Na' in ng/m3 where " + dir.file("c.csv") +
                " has it in ug/m3!\n");
}
