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

namespace {

// An observer that records what the loop tells it.
class RecordingObserver : public FitObserver {
 public:
  void discard_key() override { ++discards; }
  bool key_pressed() override { return ++polls >= key_at && key_at > 0; }
  void pass_done(const PassLine& line) override { lines.push_back(line); }
  void fit_done(const FitOutcome& outcome, const FitState& state) override {
    ++ends;
    end_pass = outcome.result_pass;
    end_chi2 = state.chi2;
  }
  int key_at = 0;  ///< the key is seen from this poll on; 0: never
  int discards = 0, polls = 0, ends = 0;
  long end_pass = 0;
  double end_chi2 = 0.0;
  std::vector<PassLine> lines;
};

}  // namespace

// Every pass reaches the observer, in order, with the numbers of the outcome's
// lines, and the end is told once, with the final state.
TEST(Iteration, PassesAndTheEndGoToTheObserverOnly) {
  struct Case {
    const char* what;
    long passes;
    int key_at;
    long lines;
  };
  const Case cases[] = {{"pass limit", 5, 0, 5}, {"key at the fourth poll", -1, 4, 3}, {"no pass", 0, 0, 0}};
  for (const Case& c : cases) {
    TestModel m = small_problem();
    FitSettings settings = m;
    settings.passes = c.passes;
    RecordingObserver observer;
    observer.key_at = c.key_at;
    const FitOutcome outcome = run_fit(m, settings, m, observer);
    EXPECT_EQ(observer.discards, 1) << c.what;
    ASSERT_EQ(observer.lines.size(), static_cast<std::size_t>(c.lines)) << c.what;
    ASSERT_EQ(outcome.lines.size(), observer.lines.size()) << c.what;
    for (std::size_t k = 0; k < observer.lines.size(); ++k) {
      EXPECT_EQ(observer.lines[k].chi2, outcome.lines[k].chi2) << c.what << " pass " << k + 1;
      EXPECT_EQ(observer.lines[k].nytot, outcome.lines[k].nytot) << c.what << " pass " << k + 1;
    }
    EXPECT_EQ(observer.ends, 1) << c.what;
    EXPECT_EQ(observer.end_pass, outcome.result_pass) << c.what;
    EXPECT_EQ(observer.end_chi2, m.chi2) << c.what;
  }
}

// The state of a fit is made from the problem alone, and the checks of both
// catch every table whose size disagrees with the dimensions.
TEST(Iteration, StateIsSizedByTheProblemAndSizesAreChecked) {
  const TestModel m = make_model(3, 4, 5);
  const Problem& problem = m;
  const FitState state = FitState::sized_for(problem);
  EXPECT_TRUE(problem.consistent());
  EXPECT_TRUE(state.fits(problem));
  EXPECT_EQ(state.p, problem.starting_p);
  EXPECT_EQ(state.damp, 10);
  struct Case {
    const char* what;
    void (*spoil)(Problem&, FitState&);
    bool problem_ok;
  };
  const Case cases[] = {
      {"usik one short", [](Problem& p, FitState&) { p.usik.pop_back(); }, false},
      {"form of another factor count", [](Problem& p, FitState&) { p.fp.resize(4 * 2); }, false},
      {"a factor name too many", [](Problem& p, FitState&) { p.faktnavn.emplace_back("extra"); }, false},
      {"mode neither 0 nor 1", [](Problem& p, FitState&) { p.offset = 2; }, false},
      {"copy_of of another record count", [](Problem& p, FitState&) { p.copy_of.assign(4, 0); }, false},
      {"contributions one short", [](Problem&, FitState& s) { s.x.pop_back(); }, true},
      {"residuals of another shape", [](Problem&, FitState& s) { s.dy.resize(4 * 4); }, true},
      {"weights of another shape", [](Problem&, FitState& s) { s.ueff.assign(3, 1.0f); }, true},
      {"sum2 one short", [](Problem&, FitState& s) { s.sum2.pop_back(); }, true},
  };
  for (const Case& c : cases) {
    Problem spoilt_problem = problem;
    FitState spoilt_state = state;
    c.spoil(spoilt_problem, spoilt_state);
    EXPECT_EQ(spoilt_problem.consistent(), c.problem_ok) << c.what;
    if (c.problem_ok) {
      EXPECT_FALSE(spoilt_state.fits(spoilt_problem)) << c.what;
    }
  }
}
