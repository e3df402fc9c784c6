// The table of options, row by row: each is described in --help, shown in the run
// record, read by the parser in both spellings and refused with its kind's message.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "control/option_table.h"
#include "control/options.h"
#include "support.h"

namespace {

// For each kind of value: a text the parser accepts, what the run record then
// shows, and a text it refuses with the message (NAME stands for the option).
struct Sample {
  OptionValue value;
  std::string text;
  nlohmann::json shown;
  std::string refused;
  std::string message;
};

const Sample kSamples[] = {
    {OptionValue::flag, "", true, "", ""},
    {OptionValue::count, "7", 7, "-1", "Error: NAME needs a whole number of at least 0, not '-1'!\n"},
    {OptionValue::positive_count, "3", 3, "0", "Error: NAME needs a whole number of at least 1, not '0'!\n"},
    {OptionValue::seed, "18446744073709551615", 18446744073709551615u, "-1",
     "Error: NAME needs a whole number from 0 to 18446744073709551615, not '-1'!\n"},
    {OptionValue::positive, "0.25", 0.25, "0", "Error: NAME needs a positive number, not '0'!\n"},
    {OptionValue::fraction, "0.25", 0.25, "1.5", "Error: NAME needs a number above 0 and at most 1, not '1.5'!\n"},
    {OptionValue::optional_positive, "2.5", 2.5, "-1", "Error: NAME needs a positive number, not '-1'!\n"},
    {OptionValue::text, "Mass", "Mass", "", ""},
    {OptionValue::folder, "out", "out", "", "Error: NAME needs a folder name!\n"},
    {OptionValue::texts, "F1:V1=1", nlohmann::json::array({"F1:V1=1"}), "", ""},
};

const Sample& sample_of(OptionValue value) {
  for (const Sample& sample : kSamples) {
    if (sample.value == value) return sample;
  }
  ADD_FAILURE() << "no sample for a kind of value";
  return kSamples[0];
}

std::string with_name(std::string message, std::string_view name) {
  if (const std::size_t at = message.find("NAME"); at != std::string::npos) message.replace(at, 4, name);
  return message;
}

// The command line "tarnok", the options every other one may need beside it
// (a pass limit, a report folder, a bootstrap), then `more`.
std::vector<std::string> command(const std::vector<std::string>& more) {
  std::vector<std::string> args = {"tarnok", "--passes", "1", "--report", "base", "--bootstrap", "1"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

Options parse(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return parse_options(static_cast<int>(argv.size()), argv.data());
}

TEST(OptionTable, HelpDescribesEveryRowOnceInTableOrder) {
  const std::string usage = usage_text();
  std::string rows;
  for (const OptionRow& row : option_rows()) {
    const std::string name(row.name);
    const std::string help(row.help);
    ASSERT_FALSE(help.empty()) << name;
    EXPECT_EQ(help.rfind("  " + name, 0), 0u) << name;
    EXPECT_TRUE(help[2 + name.size()] == ' ' || help[2 + name.size()] == '\n') << name;
    EXPECT_EQ(help.back(), '\n') << name;
    // The option begins exactly one line of --help.
    std::size_t lines = 0;
    for (std::size_t at = usage.find("\n  " + name); at != std::string::npos; at = usage.find("\n  " + name, at + 1)) {
      const char after = usage[at + 3 + name.size()];
      if (after == ' ' || after == '\n') ++lines;
    }
    EXPECT_EQ(lines, 1u) << name;
    rows += help;
  }
  // The rows stand together, in the order of the table, after the heading of the options.
  EXPECT_NE(usage.find("Options (before the positional arguments):\n" + rows + "\nPass k is"), std::string::npos);
}

TEST(OptionTable, RunRecordShowsEveryRecordedRowWithTheValuesOfBefore) {
  const nlohmann::json record = options_record(Options());
  std::size_t recorded = 0;
  for (const OptionRow& row : option_rows()) {
    const std::string key = record_key(row.name);
    const bool shown = row.record != RecordAs::nothing && row.record != RecordAs::absent_at_default;
    EXPECT_EQ(record.contains(key), shown) << row.name;
    if (shown) ++recorded;
  }
  EXPECT_EQ(record.size(), recorded);
  // At the defaults the record is the object earlier runs wrote.
  const nlohmann::json before = nlohmann::json::parse(R"({
      "passes": null, "converge": null, "keep_best": false, "threads": 0, "timing": false,
      "report": "", "total": null, "robust": null, "starts": null, "bootstrap": null,
      "block": null, "seed": 1, "min_r": 0.6})");
  EXPECT_EQ(record, before);
  EXPECT_EQ(record_key("--keep-best"), "keep_best");
}

TEST(OptionTable, ParserReadsEveryRowInBothSpellings) {
  const nlohmann::json base = options_record(parse(command({"n"})));
  for (const OptionRow& row : option_rows()) {
    const std::string name(row.name);
    const Sample& sample = sample_of(row.value);
    std::vector<std::vector<std::string>> spellings = {{name + "=" + sample.text}, {name, sample.text}};
    if (row.value == OptionValue::flag) spellings = {{name}};
    for (const std::vector<std::string>& spelling : spellings) {
      const std::string where = spelling.size() == 1 ? spelling[0] : spelling[0] + " " + spelling[1];
      std::vector<std::string> args = spelling;
      args.insert(args.end(), {"n", "--passes", "2"});
      Options options;
      ASSERT_EQ(failure_of([&] { options = parse(command(args)); }), "") << where;
      // The positional arguments begin after the value.
      EXPECT_EQ(options.args, (std::vector<std::string>{"n", "--passes", "2"})) << where;
      nlohmann::json expected = base;
      if (row.record == RecordAs::nothing && row.value == OptionValue::flag) {
        EXPECT_TRUE(options.*std::get<bool Options::*>(row.field)) << where;
      } else if (row.record == RecordAs::nothing) {
        // Not in the record (the factors' names are, and the command line shows it).
        EXPECT_EQ(options.*std::get<std::string Options::*>(row.field), sample.text) << where;
      } else {
        expected[record_key(row.name)] = sample.shown;
      }
      // The value went to this option's member and no other.
      EXPECT_EQ(options_record(options), expected) << where;
    }
  }
}

TEST(OptionTable, ParserRefusesEachKindWithItsMessage) {
  for (const OptionRow& row : option_rows()) {
    const std::string name(row.name);
    const Sample& sample = sample_of(row.value);
    if (!sample.message.empty()) {
      EXPECT_EQ(failure_of([&] { parse(command({name, sample.refused, "n"})); }), with_name(sample.message, name))
          << name;
    }
    if (row.value == OptionValue::flag) {
      EXPECT_EQ(failure_of([&] { parse(command({name + "=1", "n"})); }),
                "Error: Unknown option " + name + "=1! See tarnok --help.\n");
    } else if (row.value == OptionValue::optional_positive) {
      // Without a value that looks like a number: the implied value, the next argument untouched.
      Options options;
      ASSERT_EQ(failure_of([&] { options = parse(command({name, "n"})); }), "") << name;
      EXPECT_EQ(options.*std::get<double Options::*>(row.field), row.implied) << name;
      EXPECT_EQ(options.args, std::vector<std::string>{"n"}) << name;
      EXPECT_GT(row.implied, 0.0) << name;
    } else {
      EXPECT_EQ(failure_of([&] { parse(command({name})); }), "Error: " + name + " needs a value!\n");
    }
  }
}

TEST(OptionTable, WholeNumbersAreDecimalDigitsWithAnOptionalPlus) {
  struct Case {
    std::vector<std::string> given;
    std::string key;          // the run record's key of the option given
    nlohmann::json shown;     // its value there, when accepted
    std::string message;      // the refusal, or "" when accepted
  };
  const Case cases[] = {
      {{"--seed", "020"}, "seed", 20, ""},  // leading zeros are decimal
      {{"--seed", "+5"}, "seed", 5, ""},
      {{"--seed=18446744073709551615"}, "seed", 18446744073709551615u, ""},
      {{"--seed", "18446744073709551616"}, "", nullptr,
       "Error: --seed needs a whole number from 0 to 18446744073709551615, not '18446744073709551616'!\n"},
      {{"--seed", "0x10"}, "", nullptr, "Error: --seed needs a whole number from 0 to 18446744073709551615, not '0x10'!\n"},
      {{"--seed", " 5"}, "", nullptr, "Error: --seed needs a whole number from 0 to 18446744073709551615, not ' 5'!\n"},
      {{"--passes", "+3"}, "passes", 3, ""},
      {{"--passes", "+"}, "", nullptr, "Error: --passes needs a whole number of at least 0, not '+'!\n"},
      {{"--block", "-1"}, "", nullptr, "Error: --block needs a whole number of at least 1, not '-1'!\n"},
      {{"--starts", "100000"}, "starts", 100000, ""},
      {{"--starts", "100001"}, "", nullptr, "Error: --starts needs a whole number from 1 to 100000, not '100001'!\n"},
      {{"--bootstrap", "2147483648"}, "", nullptr,
       "Error: --bootstrap needs a whole number from 1 to 100000, not '2147483648'!\n"},
      {{"--bootstrap", "99999999999999999999"}, "", nullptr,
       "Error: --bootstrap needs a whole number from 1 to 100000, not '99999999999999999999'!\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.given;
    args.push_back("n");
    Options options;
    EXPECT_EQ(failure_of([&] { options = parse(command(args)); }), c.message) << c.given[0];
    if (c.message.empty()) {
      EXPECT_EQ(options_record(options)[c.key], c.shown) << c.given[0];
    }
  }
}

}  // namespace
