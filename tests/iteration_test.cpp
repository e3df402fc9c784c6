#include "fit/iteration.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>

#include "support.h"

namespace {

// A keyboard that reports a key waiting at the given polls (counted from 1).
class ScriptedKeyboard : public Keyboard {
 public:
  explicit ScriptedKeyboard(std::deque<bool> script) : script_(std::move(script)) {}
  bool key_waiting() override {
    ++polls;
    bool waiting = pending_ || (!script_.empty() && script_.front());
    if (!script_.empty()) script_.pop_front();
    pending_ = waiting;
    return waiting;
  }
  void read_key() override {
    pending_ = false;
    ++reads;
  }
  int polls = 0;
  int reads = 0;

 private:
  std::deque<bool> script_;
  bool pending_ = false;  // a key stays waiting until it is read
};

TestModel small_problem() {
  TestModel m = make_model(2, 3, 4);
  m.p = {1, 0.2, 0.1, 1, 0.5, 0.5};
  m.fp = {1, 1, 1, 1, 1, 1};
  const float values[] = {2, 1, 1.5f, 1, 3, 2, 4, 0.5f, 2.2f, 0.3f, 0.2f, 0.3f};
  for (std::size_t i = 0; i < 12; ++i) {
    m.rawdata[i] = values[i];
    m.usik[i] = 0.1f;
  }
  return m;
}

struct Console {
  std::FILE* file = std::tmpfile();
  ~Console() { std::fclose(file); }
  std::vector<std::string> lines() {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, file)) text += buffer;
    return lines_of(text);
  }
};

}  // namespace

TEST(Iteration, KeyBeforeTheFitIsDiscardedAndKeyDuringPassKGivesKLines) {
  struct Case {
    std::deque<bool> script;  // polls: before the loop, then one per pass
    long lines;
  };
  const Case cases[] = {
      {{true, false, false, true}, 2},  // key before the fit discarded; key during pass 2
      {{false, true}, 0},               // key at the start of pass 1
      {{false, false, false, false, false, true}, 4},
  };
  for (const Case& c : cases) {
    TestModel m = small_problem();
    ScriptedKeyboard keyboard(c.script);
    Console console;
    FitOutcome outcome = run_fit(m, keyboard, FitOptions{}, console.file);
    EXPECT_EQ(outcome.passes, c.lines);
    EXPECT_EQ(outcome.reason, StopReason::key);
    EXPECT_EQ(static_cast<long>(console.lines().size()), c.lines);
    EXPECT_EQ(keyboard.reads, c.script.front() ? 1 : 0);
  }
}

TEST(Iteration, PassLimitStopsAtTheStartOfTheNextPass) {
  for (long passes : {0L, 1L, 12L}) {
    TestModel m = small_problem();
    NoKeyboard keyboard;
    Console console;
    FitOptions options;
    options.passes = passes;
    FitOutcome outcome = run_fit(m, keyboard, options, console.file);
    EXPECT_EQ(outcome.reason, StopReason::pass_limit);
    EXPECT_EQ(outcome.passes, passes);
    EXPECT_EQ(static_cast<long>(console.lines().size()), passes);
    // Damping runs 10, 9, ..., 2 and then stays at 1.
    EXPECT_EQ(m.damp, passes >= 9 ? 1 : 10 - static_cast<int>(passes));
  }
}

TEST(Iteration, StatisticsLineDescribesThePassesContributionStep) {
  TestModel m = small_problem();
  NoKeyboard keyboard;
  Console console;
  FitOptions options;
  options.passes = 2;
  run_fit(m, keyboard, options, console.file);
  std::vector<std::string> lines = console.lines();
  // Pass 1 counts only the records' degrees of freedom: 4 records x (3 - 2).
  EXPECT_EQ(cells_of(lines[0])[1], "4");
  // The final shortened pass subtracts the elements left free by pass 2.
  EXPECT_EQ(m.nytot, 4 * (3 - 2) - m.nfree);
}
