// The engine against the literal kernels (tests/reference) on many random
// problems: every table and total must be the same bit for bit, for every
// thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/detail/lane_inverse.h"
#include "engine/engine.h"
#include "engine/detail/lane_matrixinv.h"
#include "engine/engine.h"
#include "fit/residue.h"
#include "stats/regression.h"
#include "reference/random_model.h"
#include "reference/reference.h"
#include "robust/weights.h"

namespace {

// Bitwise equality, so that NaN equals the same NaN and -0 differs from 0.
template <typename T>
bool same_bits(const std::vector<T>& l, const std::vector<T>& r) {
  return l.size() == r.size() && (l.empty() || std::memcmp(l.data(), r.data(), l.size() * sizeof(T)) == 0);
}
bool same_bits(double l, double r) { return std::memcmp(&l, &r, sizeof l) == 0; }

// The first element that differs, for the failure message.
template <typename T>
std::string first_difference(const std::vector<T>& l, const std::vector<T>& r) {
  for (std::size_t k = 0; k < l.size() && k < r.size(); ++k) {
    if (std::memcmp(&l[k], &r[k], sizeof(T)) != 0) {
      char buf[120];
      std::snprintf(buf, sizeof buf, " element %zu: %a against %a", k, static_cast<double>(l[k]), static_cast<double>(r[k]));
      return buf;
    }
  }
  return " sizes " + std::to_string(l.size()) + " and " + std::to_string(r.size());
}

// Every table and total that the fit and the result file depend on.
void expect_same_state(const TestModel& got, const TestModel& want, const std::string& where) {
  EXPECT_TRUE(same_bits(got.x, want.x)) << where << ": x" << first_difference(got.x, want.x);
  EXPECT_TRUE(same_bits(got.dy, want.dy)) << where << ": dy" << first_difference(got.dy, want.dy);
  EXPECT_TRUE(same_bits(got.p, want.p)) << where << ": p" << first_difference(got.p, want.p);
  EXPECT_EQ(got.ny, want.ny) << where << ": ny";
  EXPECT_EQ(got.nfree, want.nfree) << where << ": nfree";
  EXPECT_TRUE(same_bits(got.chi2, want.chi2)) << where << ": chi2 " << got.chi2 << " vs " << want.chi2;
  EXPECT_EQ(got.nytot, want.nytot) << where << ": nytot";
  EXPECT_TRUE(same_bits(got.sumsq, want.sumsq)) << where << ": sumsq";
  EXPECT_TRUE(same_bits(got.sum2, want.sum2)) << where << ": sum2" << first_difference(got.sum2, want.sum2);
  EXPECT_TRUE(same_bits(got.r, want.r)) << where << ": r" << first_difference(got.r, want.r);
  EXPECT_TRUE(same_bits(got.t, want.t)) << where << ": t" << first_difference(got.t, want.t);
}

void start_pass(TestModel& m) {
  m.chi2 = 0.0;
  m.nytot = -m.nfree;
  std::fill(m.sum2.begin(), m.sum2.end(), 0.0);
  m.sumsq = 0.0;
}

// Passes as the iteration loop runs them, with either set of kernels.
template <typename Contribution, typename Profile>
void fit(TestModel& m, int passes, Contribution contribution, Profile profile) {
  m.nfree = 0;
  for (int pass = 0; pass < passes; ++pass) {
    start_pass(m);
    contribution(m);
    m.nfree = 0;
    profile(m);
    if (m.damp > 1) m.damp = m.damp - 1;
  }
  start_pass(m);
  contribution(m);
  residue(m);
}

// The passes of either set of kernels, as function objects.
const auto kEngineContribution = [](TestModel& m) { contribution_pass(m); };
const auto kEngineProfile = [](TestModel& m) { profile_pass(m); };
const auto kLiteralContribution = [](TestModel& m) { reference::contribution_pass(m); };
const auto kLiteralProfile = [](TestModel& m) { reference::profile_pass(m); };


// The shapes the comparison runs on: every factor count from 1 to 20, variable
// counts from 1 to 64, both modes, pulls, missing values and singular systems.
std::vector<ProblemShape> shapes() {
  std::vector<ProblemShape> all;
  std::mt19937 rng(7);
  const int nvars[] = {1, 2, 3, 5, 8, 13, 21, 34, 47, 60, 64};
  const float rotates[] = {0.0f, 0.3f, 1.5f};
  for (int nfakt = 1; nfakt <= 20; ++nfakt) {
    for (int k = 0; k < 3; ++k) {
      ProblemShape shape;
      shape.nfakt = nfakt;
      shape.nvar = nvars[(nfakt * 3 + k) % 11];
      shape.nrec = 1 + static_cast<int>(rng() % 150);
      shape.offset = k % 2;
      shape.rotate = rotates[(nfakt + k) % 3];
      shape.missing = k == 2 ? 0.3 : 0.05;
      shape.held = 0.1 + 0.3 * k;
      shape.singular = (nfakt + k) % 4 == 0;
      all.push_back(shape);
    }
  }
  return all;
}

// Every variable count from 1 to 64, with factor counts that cycle through 1 to 20.
std::vector<ProblemShape> variable_sweep() {
  std::vector<ProblemShape> all;
  std::mt19937 rng(8);
  for (int nvar = 1; nvar <= 64; ++nvar) {
    ProblemShape shape;
    shape.nvar = nvar;
    shape.nfakt = 1 + (nvar * 7) % 20;
    shape.nrec = 1 + static_cast<int>(rng() % 60);
    shape.offset = nvar % 2;
    shape.rotate = nvar % 3 == 0 ? 0.0f : 0.7f;
    shape.missing = 0.1;
    shape.held = 0.25;
    shape.singular = nvar % 5 == 0;
    all.push_back(shape);
  }
  return all;
}

std::string describe(const ProblemShape& s, int threads) {
  return "nfakt " + std::to_string(s.nfakt) + " nvar " + std::to_string(s.nvar) + " nrec " +
         std::to_string(s.nrec) + " offset " + std::to_string(s.offset) + " rotate " + std::to_string(s.rotate) +
         (s.singular ? " singular" : "") + " threads " + std::to_string(threads);
}

TEST(EngineIdentity, MatrixinvMatchesLiteralInversionOnRandomAndSingularBlocks) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  for (int n = 0; n <= 20; ++n) {
    for (int kind = 0; kind < 5; ++kind) {
      const int stride = n + kind % 3;
      std::vector<double> a(static_cast<std::size_t>(stride) * static_cast<std::size_t>(n + 1));
      for (double& e : a) e = uniform(rng);
      if (kind == 1 && n >= 2) {  // a repeated row
        for (int k = 0; k < n; ++k) a[static_cast<std::size_t>(stride + k)] = a[static_cast<std::size_t>(k)];
      }
      if (kind == 2 && n >= 1) {  // a zero column
        for (int j = 0; j < n; ++j) a[static_cast<std::size_t>(j * stride + n - 1)] = 0.0;
      }
      if (kind == 3) {  // symmetric with ties in magnitude
        for (int j = 0; j < n; ++j) {
          for (int k = 0; k < j; ++k) a[static_cast<std::size_t>(j * stride + k)] = a[static_cast<std::size_t>(k * stride + j)];
        }
      }
      if (kind == 4) std::fill(a.begin(), a.end(), 0.0);
      std::vector<double> want = a;
      std::vector<int> ik(static_cast<std::size_t>(n) + 1), jk(ik.size());
      double det = -5.0, want_det = -5.0;
      Matrixinv(a.data(), stride, n, &det, ik.data(), jk.data());
      reference::Matrixinv(want.data(), stride, n, &want_det, ik.data(), jk.data());
      EXPECT_TRUE(same_bits(a, want)) << "n " << n << " kind " << kind;
      EXPECT_TRUE(same_bits(det, want_det)) << "n " << n << " kind " << kind;
    }
  }
}

TEST(EngineIdentity, FourBlocksSideBySideMatchLiteralInversionOrAreHandedBack) {
  // Each lane holds a block of its own kind; a lane must come back with the literal
  // inverse, read through the exchanges left in place, or be handed back exactly
  // when the literal code stops at a zero pivot or ends with a value that is not
  // finite.
  enum Kind { kRandom, kSymmetricTies, kSmallIntegers, kRepeatedRow, kZero, kInfinite, kKinds };
  std::mt19937_64 rng(12);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  auto fill = [&](Kind kind, int n) {
    std::vector<double> b(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    auto at = [&](int j, int k) -> double& { return b[static_cast<std::size_t>(j * n + k)]; };
    for (double& e : b) e = kind == kSmallIntegers ? static_cast<double>(static_cast<int>(rng() % 5) - 2) : uniform(rng);
    if (kind == kSymmetricTies) {
      for (int j = 0; j < n; ++j) {
        for (int k = 0; k < j; ++k) at(j, k) = at(k, j);
      }
    }
    if (kind == kRepeatedRow && n >= 2) {
      for (int k = 0; k < n; ++k) at(n - 1, k) = at(0, k);
    }
    if (kind == kZero) std::fill(b.begin(), b.end(), 0.0);
    if (kind == kInfinite) at(n / 2, n - 1) = std::numeric_limits<double>::infinity();
    return b;
  };
  for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 20, 64}) {
    for (int round = 0; round < 12; ++round) {
      std::vector<std::vector<double>> lane(4);
      std::vector<double> side(4 * static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
      for (int l = 0; l < 4; ++l) {
        lane[static_cast<std::size_t>(l)] = fill(static_cast<Kind>((round + l * (round % 3 + 1)) % kKinds), n);
        for (std::size_t e = 0; e < lane[static_cast<std::size_t>(l)].size(); ++e) side[4 * e + static_cast<std::size_t>(l)] = lane[static_cast<std::size_t>(l)][e];
      }
      LaneExchanges kept;
      const unsigned handed_back = invert_lanes(reinterpret_cast<LaneQuad*>(side.data()), n, &kept);
      for (int l = 0; l < 4; ++l) {
        std::vector<double>& want = lane[static_cast<std::size_t>(l)];
        std::vector<int> ik(static_cast<std::size_t>(n)), jk(ik.size());
        double det = 0.0;
        reference::Matrixinv(want.data(), n, n, &det, ik.data(), jk.data());
        const bool literal_only =
            det == 0.0 || !std::all_of(want.begin(), want.end(), [](double e) { return std::isfinite(e); });
        const std::string where = "n " + std::to_string(n) + " round " + std::to_string(round) + " lane " + std::to_string(l);
        EXPECT_EQ((handed_back >> l) & 1u, literal_only ? 1u : 0u) << where;
        if (literal_only) continue;
        std::vector<double> got(want.size());
        for (int i = 0; i < n; ++i) {
          for (int j = 0; j < n; ++j) {
            const auto from = static_cast<std::size_t>(kept.row_from[i][l] * n + kept.col_from[j][l]);
            got[static_cast<std::size_t>(i * n + j)] = kept.row_sign[i][l] * kept.col_sign[j][l] * side[4 * from + static_cast<std::size_t>(l)];
          }
        }
        EXPECT_TRUE(same_bits(got, want)) << where << first_difference(got, want);
      }
    }
  }
}

TEST(EngineIdentity, EachKernelMatchesLiteralKernelOnRandomProblems) {
  std::uint64_t seed = 100;
  std::vector<ProblemShape> all = shapes();
  for (const ProblemShape& shape : variable_sweep()) all.push_back(shape);
  for (const ProblemShape& shape : all) {
    const TestModel start = random_model(++seed, shape);
    for (int threads : {1, 2, 3}) {
      const std::string where = describe(shape, threads);
      // Contribution step from the starting profiles.
      TestModel got = start;
      TestModel want = start;
      got.threads = threads;
      start_pass(got);
      start_pass(want);
      contribution_pass(got);
      reference::contribution_pass(want);
      expect_same_state(got, want, where + " contribution");
      // Profile step from the same contributions and residuals, and from the same
      // with the last factor contributing nothing to any record: every variable's
      // normal equations are singular then, and each solve meets a zero pivot.
      TestModel got_zero = got;
      TestModel want_zero = want;
      for (std::size_t s = 0; s < static_cast<std::size_t>(shape.nrec); ++s) {
        const std::size_t last = s * static_cast<std::size_t>(shape.nfakt) + static_cast<std::size_t>(shape.nfakt - 1);
        got_zero.x[last] = want_zero.x[last] = 0.0;
      }
      profile_pass(got_zero);
      reference::profile_pass(want_zero);
      expect_same_state(got_zero, want_zero, where + " profile, a factor without contributions");
      got.nfree = want.nfree = 0;
      profile_pass(got);
      reference::profile_pass(want);
      expect_same_state(got, want, where + " profile");
      // Regression of every variable.
      const auto cells = static_cast<std::size_t>(shape.nvar) * static_cast<std::size_t>(shape.nfakt);
      std::vector<double> chi(static_cast<std::size_t>(shape.nvar)), coef(cells), se(cells);
      std::vector<double> want_chi = chi, want_coef = coef, want_se = se;
      regressions(got, chi.data(), coef.data(), se.data());
      reference::regressions(want, want_chi.data(), want_coef.data(), want_se.data());
      EXPECT_TRUE(same_bits(chi, want_chi)) << where << ": regression chi";
      EXPECT_TRUE(same_bits(coef, want_coef)) << where << ": regression coefficients";
      EXPECT_TRUE(same_bits(se, want_se)) << where << ": regression errors";
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(EngineIdentity, SingleRecordAndSingleVariableEntriesMatchLiteralSteps) {
  ProblemShape shape;
  shape.nfakt = 9;
  shape.nvar = 17;
  shape.nrec = 40;
  for (int offset : {0, 1}) {
    shape.offset = offset;
    TestModel got = random_model(5 + static_cast<std::uint64_t>(offset), shape);
    TestModel want = got;
    start_pass(got);
    start_pass(want);
    for (int s = 0; s < shape.nrec; ++s) {
      contribution_step(got, s);
      reference::contribution_step(want, s);
    }
    got.nfree = want.nfree = 0;
    for (int v = 0; v < shape.nvar; ++v) {
      profile_step(got, v);
      reference::profile_step(want, v);
    }
    expect_same_state(got, want, "offset " + std::to_string(offset));
    std::vector<double> coef(9), se(9), want_coef(9), want_se(9);
    for (int v = 0; v < shape.nvar; ++v) {
      EXPECT_TRUE(same_bits(regression(got, v, coef.data(), se.data()),
                            reference::regression(want, v, want_coef.data(), want_se.data())));
      EXPECT_TRUE(same_bits(coef, want_coef));
      EXPECT_TRUE(same_bits(se, want_se));
    }
  }
}

bool has_nan(const TestModel& m) {
  for (double e : m.x) {
    if (std::isnan(e)) return true;
  }
  return false;
}

// The model with its records drawn with replacement, as a bootstrap replicate
// holds them, each repeat naming its first occurrence in copy_of; every fifth
// record also names the record before it, which the engine must see through when
// their values differ.
TestModel with_repeats(const TestModel& m, std::uint64_t seed) {
  std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
  TestModel r = m;
  const auto nvar = static_cast<std::size_t>(m.nvar);
  const auto nrec = static_cast<std::size_t>(m.nrec);
  std::vector<float> rawdata(nrec * nvar), usik(nrec * nvar);
  std::vector<int> first_at(nrec, -1);
  r.copy_of.resize(nrec);
  for (std::size_t s = 0; s < nrec; ++s) {
    const std::size_t from = rng() % nrec;
    std::copy_n(m.rawdata.data() + from * nvar, nvar, rawdata.data() + s * nvar);
    std::copy_n(m.usik.data() + from * nvar, nvar, usik.data() + s * nvar);
    if (first_at[from] < 0) first_at[from] = static_cast<int>(s);
    r.copy_of[s] = s % 5 == 4 ? static_cast<int>(s) - 1 : first_at[from];
  }
  r.rawdata = std::move(rawdata);
  r.usik = std::move(usik);
  return r;
}

// The model with values outside the range in which the engine forms the normal
// equations' quotients with the reciprocal: a profile element of 1e-160, whose
// square is a subnormal double (the first pass takes the divider for every
// record), and one record's uncertainty infinite (that record goes to the literal
// kernels).
TestModel with_extremes(const TestModel& m) {
  TestModel r = m;
  r.p[static_cast<std::size_t>(m.nfakt - 1)] = 1e-160;
  std::vector<float> usik = m.usik;
  usik[usik.size() / 2] = HUGE_VALF;
  r.usik = std::move(usik);
  return r;
}

TEST(EngineIdentity, WholeFitsMatchLiteralFitsForEveryThreadCount) {
  std::uint64_t seed = 900;
  int runs_with_nan = 0;
  enum Records { kOnce, kRepeated, kExtreme };
  const char* const names[] = {"", " repeated records", " extreme values"};
  for (const ProblemShape& base : shapes()) {
    if (base.nfakt % 3 != 0) continue;  // a sample of the shapes, each fitted over many passes
    ProblemShape shape = base;
    shape.nrec = 3 * base.nrec + 7;
    ++seed;
    // Records solved once each, repeated records solved once per repeat, and
    // values the engine forms its quotients for with the divider.
    for (Records records : {kOnce, kRepeated, kExtreme}) {
      const TestModel plain = random_model(seed, shape);
      const TestModel start = records == kRepeated ? with_repeats(plain, seed)
                          : records == kExtreme ? with_extremes(plain)
                                                : plain;
      TestModel want = start;
      fit(want, 12, kLiteralContribution, kLiteralProfile);
      runs_with_nan += has_nan(want) ? 1 : 0;
      for (int threads : {1, 2, 4}) {
        TestModel got = start;
        got.threads = threads;
        fit(got, 12, kEngineContribution, kEngineProfile);
        expect_same_state(got, want, describe(shape, threads) + names[records] + " after 12 passes");
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  // Singular systems make some fits run into NaN, where only the operand order of
  // the literal code gives the same sign of each NaN; the sample must include them.
  EXPECT_GT(runs_with_nan, 0);
}

// Robust mode: the weights refreshed after every contribution step from the
// residuals, as the iteration loop does, with either set of kernels.
TEST(EngineIdentity, WholeRobustFitsMatchLiteralFitsForEveryThreadCount) {
  const auto engine = [](TestModel& m) {
    contribution_pass(m);
    refresh_robust(m);
  };
  const auto literal = [](TestModel& m) {
    reference::contribution_pass(m);
    refresh_robust(m);
  };
  std::uint64_t seed = 1400;
  int runs_down_weighted = 0;
  for (const ProblemShape& base : shapes()) {
    if (base.nfakt % 4 != 1) continue;
    ProblemShape shape = base;
    shape.nrec = base.nrec + 5;
    TestModel start = random_model(++seed, shape);
    start.alpha = 0.5 + static_cast<double>(seed % 4);  // alpha 0.5 to 3.5: many values down-weighted
    start_robust(start);
    TestModel want = start;
    fit(want, 12, literal, kLiteralProfile);
    runs_down_weighted += want.ueff != want.usik ? 1 : 0;
    for (int threads : {1, 2, 3}) {
      TestModel got = start;
      got.threads = threads;
      fit(got, 12, engine, kEngineProfile);
      expect_same_state(got, want, "robust " + describe(shape, threads) + " after 12 passes");
      EXPECT_TRUE(same_bits(got.ueff, want.ueff)) << describe(shape, threads) << ": ueff";
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_GT(runs_down_weighted, 5);
}

}  // namespace
