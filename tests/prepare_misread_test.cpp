// `tarnok prepare` on measured files it could misread: markers taken as values,
// dates read the wrong way round or not at all, a total fitted as a species,
// duplicate rows, samples with nothing measured, seeds and command lines read
// loosely. Each case is refused with its message, or goes on with a note or
// warning on standard error and the files the fit needs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace {

const std::string kBinary = TARNOK_BINARY;

const char kValues[] =
    "Date,Na,Cl,SO4\n"
    "2001-06-01,1,2,3\n"
    "2001-06-02,1.5,2,3\n"
    "2001-06-03,2,3,4\n"
    "2001-06-04,1,3,5\n";
const char kLimits[] = "Na,0.1,0.1\nCl,0.1,0.1\nSO4,0.1,0.1\nPM2.5,0.1,0.1\n";

// The values with the identifiers replaced, one per sample.
std::string with_ids(const std::vector<std::string>& ids) {
  std::vector<std::string> lines = lines_of(kValues);
  std::string text = lines[0] + "\n";
  for (std::size_t s = 0; s < ids.size(); ++s) text += ids[s] + lines[s + 1].substr(lines[s + 1].find(',')) + "\n";
  return text;
}

struct Case {
  const char* name;
  std::vector<std::string> args;  // {V} values, {U} uncertainties, {F} side table, {O} output folder
  std::string values;
  std::string uncertainties;
  std::string side;               // the --mdl or --profiles table
  int status;
  std::string out;                // all of standard output when refused, otherwise a line it holds
  std::string err;                // a text standard error holds ("": it is empty)
  std::string data;               // a text data.tsv holds (when the run goes on)
};

TEST(PrepareMisread, RefusesOrTellsWhatItWouldMisread) {
  const std::string v = kValues;
  const std::vector<std::string> mdl = {"--mdl", "{F}", "--factors", "1", "{V}", "{O}"};
  const std::vector<std::string> unc = {"--uncertainties", "{U}", "--factors", "1", "{V}", "{O}"};
  auto args = [](std::vector<std::string> front, const std::vector<std::string>& rest) {
    front.insert(front.end(), rest.begin(), rest.end());
    return front;
  };
  const std::string u = "Date,Na,Cl,SO4\n2001-06-01,.1,.2,.3\n2001-06-02,.1,.2,.3\n2001-06-03,.2,.2,.4\n"
                        "2001-06-04,.1,.3,.5\n";
  const std::string ambiguous = with_ids({"05/06/2001", "06/06/2001", "07/06/2001", "08/06/2001"});
  const std::vector<Case> cases = {
      {"a repeated -99 is a marker", mdl, "Date,Na,Cl,SO4\nd1,1,2,3\nd2,-99,2,3\nd3,2,-99,4\nd4,-99,3,5\n", "",
       kLimits, 1,
       "Error: {V} line 3, species Na: the value -99 is in 2 cells; a value repeated at or below -9 marks missing "
       "values, and would be fitted as a measurement. Give --missing-marker -99 to read those cells as missing!\n",
       "", ""},
      {"a named numeric marker is missing", args({"--missing-marker", "-99"}, mdl),
       "Date,Na,Cl,SO4\n2001-06-01,1,2,3\n2001-06-02,-99.0,2,3\n2001-06-03,2,3,4\n", "", kLimits, 0, "", "",
       "2001-06-02\t1.5\t0\t"},
      {"a marker text is counted", mdl, "Date,Na,Cl,SO4\nd1,1,2,3\nd2,BDL,2,3\nd3,2,BDL,4\nd4,BDL,3,5\n", "", kLimits,
       1,
       "Error: {V} line 3, species Na: 'BDL' is not a number!\n'BDL' looks like a missing-value marker: 2 cells of "
       "species Na hold it. Give --missing-marker 'BDL' to read them as missing.\n",
       "", ""},
      {"dates that read both ways", mdl, ambiguous, "", kLimits, 1,
       "Error: {V} line 2: the sample identifier '05/06/2001' reads as the date 2001-06-05 day-first and as "
       "2001-05-06 month-first, and every identifier reads both ways!\nGive --date-format dmy (day first) or "
       "--date-format mdy (month first).\n",
       "", ""},
      {"dates in a named order", args({"--date-format", "dmy"}, mdl), ambiguous, "", kLimits, 0, "",
       "the sample identifiers are read as dates in the order dmy and written as 2001-06-05",
       "2001-06-05\t1\t"},
      {"dates day first", mdl, with_ids({"22/06/2001", "23/06/2001 13:00", "24/06/2001", "25/06/2001"}), "", kLimits,
       0, "", "order dmy", "2001-06-23 13:00\t1.5\t"},
      {"month names", mdl, with_ids({"22-Jun-2001", "23-Jun-2001", "24-jun-2001", "25-June-2001"}), "", kLimits, 0,
       "", "order dmy", "2001-06-25\t1\t"},
      {"two-digit years", mdl, with_ids({"06/22/01", "06/23/01", "06/24/01", "06/25/01"}), "", kLimits, 0, "",
       "order mdy", "2001-06-22\t1\t"},
      {"year first", mdl, with_ids({"2001/06/22", "20010623", "2001/06/24", "2001/06/25"}), "", kLimits, 0, "",
       "order ymd", "2001-06-23\t1.5\t"},
      {"identifiers that are not dates", mdl, with_ids({"s1", "s2", "s3", "s4"}), "", kLimits, 0, "",
       "Warning: {V} line 2: the sample identifier 's1' is not a date in a known form (such as 2001-06-22, "
       "22/06/2001 or 22-Jun-2001); the report will show the samples in the order of their rows.\n",
       "s2\t1.5\t"},
      {"a total not named", mdl, "Date,Na,Cl,PM2.5\n2001-06-01,1,2,3\n2001-06-02,1,2,4\n", "", kLimits, 0, "",
       "Warning: {V}: the species PM2.5 reads as a total; without --total PM2.5 it is fitted as a strong species and "
       "can pull the factors towards itself.\n",
       ""},
      {"the fit command carries the report and the total", args({"--total", "PM2.5"}, mdl),
       "Date,Na,Cl,PM2.5\n2001-06-01,1,2,3\n2001-06-02,1,2,4\n", "", kLimits, 0,
       "  " + kBinary + " --accelerate --converge 1e-6 --keep-best --passes 20000 --report {O}/report --total PM2.5 n "
       "{O}/profile.tsv {O}/form.tsv {O}/data.tsv {O}/result.tsv",
       "", ""},
      {"uncertainties in another order", unc, v,
       "Date,SO4,Na,Cl\n2001-06-01,.3,.1,.2\n2001-06-02,.3,.1,.2\n2001-06-03,.4,.2,.2\n2001-06-04,.5,.1,.3\n", "", 0,
       "", "Note: {U} holds the species of {V} in another order; they are matched by name.\n",
       "2001-06-03\t2\t0.2\t3\t0.2\t4\t0.4\n"},
      {"a sample with nothing measured", unc,
       "Date,Na,Cl,SO4\n2001-06-01,1,2,3\n2001-06-02,,,\n2001-06-03,2,3,4\n2001-06-04,1,3,5\n", u, "", 0, "",
       "Warning: {V} line 3: the sample '2001-06-02' has no measured value of a species in the fit; it is left "
       "out.\n",
       "Date\tNa\tu(Na)\tCl\tu(Cl)\tSO4\tu(SO4)\n2001-06-01\t1\t0.1\t2\t0.2\t3\t0.3\n2001-06-03\t"},
      {"a sample twice", mdl, with_ids({"d1", "d2", "d1", "d4"}), "", kLimits, 1,
       "Error: {V} line 4: the sample 'd1' appears twice (first on line 2); the result table could not tell them "
       "apart!\n",
       "", ""},
      {"one file as values and uncertainties", {"--uncertainties", "{V}", "--factors", "1", "{V}", "{O}"}, v, "", "",
       1, "Error: {V} and {V} are the same file; the uncertainties need a table of their own!\n", "", ""},
      {"a species twice among the limits", mdl, v, "", "Species,MDL,Fraction\nNa,0.1,0.1\nCl,0.1,0.1\nNa,1,1\n", 1,
       "Error: {F} line 4: a second row for the species Na (the first is on line 2)!\n", "", ""},
      {"a species twice among the profiles", {"--mdl", "{U}", "--profiles", "{F}", "{V}", "{O}"}, v, kLimits,
       ",A\nNa,1\nCl,1\nSO4,1\nNa,2\n", 1, "Error: {F} line 5: a second row for the species Na (the first is on line 2)!\n",
       "", ""},
      {"a seed below zero", args({"--seed", "-1"}, mdl), v, "", kLimits, 1,
       "Error: prepare: --seed needs a whole number from 0 to 18446744073709551615, not '-1'!\n", "", ""},
      {"a hexadecimal seed", args({"--seed", "0x10"}, mdl), v, "", kLimits, 1,
       "Error: prepare: --seed needs a whole number from 0 to 18446744073709551615, not '0x10'!\n", "", ""},
      {"a seed beyond the range", args({"--seed", "18446744073709551616"}, mdl), v, "", kLimits, 1,
       "Error: prepare: --seed needs a whole number from 0 to 18446744073709551615, not '18446744073709551616'!\n",
       "", ""},
      {"a delimiter the file does not use", args({"--delimiter", "tab"}, mdl), v, "", kLimits, 1,
       "Error: {V} line 1: no species columns after the first!\nThe delimiter was tab (--delimiter tab), but the "
       "heading row holds 3 commas and no tab: the file seems comma-separated (--delimiter comma).\n",
       "", ""},
      {"a name with a space unquoted", {"--mdl", "{F}", "--factors", "1", "--bad", "Elemental", "Carbon", "{V}", "{O}"},
       v, "", kLimits, 1,
       "Error: prepare: The following argument was not expected: {O}! See tarnok prepare --help.\n'Carbon' was taken "
       "as the values' table and '{V}' as OUTDIR, which leaves '{O}' over: a name with spaces goes in quotes, as in "
       "--bad 'Elemental Carbon'.\n",
       "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string vp = dir.write("v.csv", c.values);
    const std::string up = dir.write("u.csv", c.uncertainties);
    const std::string fp = dir.write("f.csv", c.side);
    const std::string out = dir.file("out");
    auto fill = [&](std::string text) {
      const std::pair<const char*, std::string> keys[] = {{"{V}", vp}, {"{U}", up}, {"{F}", fp}, {"{O}", out}};
      for (const auto& [key, path] : keys) {
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, 3, path);
      }
      return text;
    };
    std::vector<std::string> run_args = {"prepare"};
    for (const std::string& a : c.args) run_args.push_back(fill(a));
    RunResult r = run_program(kBinary, run_args);
    EXPECT_EQ(r.status, c.status) << r.out;
    if (c.status != 0) {
      EXPECT_EQ(r.out, fill(c.out));
      EXPECT_TRUE(!file_exists(out) || list_dir(out).empty()) << "something was written";
    } else if (!c.out.empty()) {
      EXPECT_NE(r.out.find(fill(c.out)), std::string::npos) << r.out;
    }
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(fill(c.err)), std::string::npos) << r.err;
    }
    if (!c.data.empty()) {
      EXPECT_NE(read_file(out + "/data.tsv").find(c.data), std::string::npos) << read_file(out + "/data.tsv");
    }
    EXPECT_EQ(read_file(vp), c.values);
  }
}

// Leading zeros read as decimal: --seed 020 is seed 20 (not octal 16), and a
// leading '+' is allowed.
TEST(PrepareMisread, SeedIsDecimal) {
  TempDir dir;
  const std::string v = dir.write("v.csv", kValues);
  const std::string limits = dir.write("mdl.csv", kLimits);
  std::vector<std::string> profiles;
  for (const char* seed : {"20", "020", "+20", "16"}) {
    const std::string out = dir.file(std::string("out") + seed);
    RunResult r = run_program(kBinary, {"prepare", "--mdl", limits, "--factors", "2", "--start", "spread", "--seed",
                                        seed, v, out});
    ASSERT_EQ(r.status, 0) << r.out;
    profiles.push_back(read_file(out + "/profile.tsv"));
  }
  EXPECT_EQ(profiles[1], profiles[0]);
  EXPECT_EQ(profiles[2], profiles[0]);
  EXPECT_NE(profiles[3], profiles[0]) << "seeds 16 and 20 give the same start; the test shows nothing";
}

}  // namespace
