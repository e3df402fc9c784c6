// How stable the answer of several starts is: factors matched one to one however
// they are numbered and scaled, and the summary of a hand-made run with two minima.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "ensemble/mapping.h"
#include "ensemble/stability.h"
#include "support.h"

namespace {

StartResult fitted_start(double chi2, std::vector<double> p, std::vector<double> x) {
  StartResult start;
  start.ran = true;
  start.chi2 = chi2;
  start.nytot = 10;
  start.p = std::move(p);
  start.x = std::move(x);
  return start;
}

}  // namespace

TEST(Stability, FactorsArePairedOneToOne) {
  const int nvar = 12, nrec = 50, nfakt = 4;
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> amount(0.1, 2.0);
  std::vector<double> p(nvar * nfakt), x(nrec * nfakt);
  for (double& e : p) e = amount(gen);
  for (double& e : x) e = amount(gen);
  // Other factor j is base factor perm[j], its profile doubled and its
  // contributions halved (the same model), slightly disturbed.
  const int perm[nfakt] = {2, 0, 3, 1};
  std::vector<double> op(p.size()), ox(x.size());
  for (int j = 0; j < nfakt; ++j) {
    for (int v = 0; v < nvar; ++v) op[v * nfakt + j] = 2.0 * p[v * nfakt + perm[j]] + 0.01 * amount(gen);
    for (int s = 0; s < nrec; ++s) ox[s * nfakt + j] = 0.5 * x[s * nfakt + perm[j]] + 0.01 * amount(gen);
  }
  FactorPairing pairing = pair_factors(p.data(), x.data(), op.data(), ox.data(), nvar, nrec, nfakt, 0);
  for (int j = 0; j < nfakt; ++j) {
    EXPECT_EQ(pairing.factor[static_cast<std::size_t>(perm[j])], j);
    EXPECT_GT(pairing.profile_r[static_cast<std::size_t>(perm[j])], 0.99);
    EXPECT_GT(pairing.contribution_r[static_cast<std::size_t>(perm[j])], 0.99);
  }

  // Other factor 2 becomes a second copy of base factor 2 (other 0 is the first):
  // matching each base factor to its best gives one factor twice, the pairing
  // gives each base factor one of its own.
  for (int v = 0; v < nvar; ++v) op[v * nfakt + 2] = p[v * nfakt + 2] + 0.01 * amount(gen);
  for (int s = 0; s < nrec; ++s) ox[s * nfakt + 2] = x[s * nfakt + 2] + 0.01 * amount(gen);
  const std::vector<FactorMatch> best = best_matches({x.data(), nrec, nfakt}, {ox.data(), nrec, nfakt});
  std::set<int> bests;
  for (const FactorMatch& match : best) bests.insert(match.factor);
  EXPECT_LT(bests.size(), 4u);
  pairing = pair_factors(p.data(), x.data(), op.data(), ox.data(), nvar, nrec, nfakt, 0);
  EXPECT_EQ(std::set<int>(pairing.factor.begin(), pairing.factor.end()).size(), 4u);

  // In offset mode factor 0 stays factor 0 even when another fits it better,
  // and its contributions (all 1) count as the same.
  pairing = pair_factors(p.data(), x.data(), op.data(), ox.data(), nvar, nrec, nfakt, 1);
  EXPECT_EQ(pairing.factor[0], 0);
  EXPECT_EQ(pairing.contribution_r[0], 1.0);
  EXPECT_EQ(std::set<int>(pairing.factor.begin(), pairing.factor.end()).size(), 4u);
}

TEST(Stability, SummaryOfTwoMinima) {
  // Two factors, three variables, four records. The best start A:
  //   profiles (v x f) {2, 0.5; 1, 1; 0.5, 3}: sums 3.5 and 4.5
  //   contributions (s x f) {1, 0; 2, 1; 0, 2; 1, 1}: sums 4 and 4
  // so the shares of all variables are 14 / 32 = 43.75 % and 18 / 32 = 56.25 %.
  TestModel m = make_model(2, 3, 4);
  const std::vector<double> p = {2, 0.5, 1, 1, 0.5, 3};
  const std::vector<double> x = {1, 0, 2, 1, 0, 2, 1, 1};
  StartsRun run;
  run.best = 1;
  // 0: A again with its factors swapped, profiles doubled and contributions
  // halved, chi2 0.05 % above: the same answer.
  run.starts.push_back(fitted_start(100.05, {1, 4, 2, 2, 6, 1}, {0, 0.5, 0.5, 1, 1, 0, 0.5, 0.5}));
  run.starts.push_back(fitted_start(100.0, p, x));  // 1: A
  // 2: factor 1's contribution in record 0 is 0.1, chi2 0.5 % above: near the best
  // but not the same; factor 1 then has (4.5 * 4.1) / (14 + 18.45) = 56.857 %.
  run.starts.push_back(fitted_start(100.5, p, {1, 0.1, 2, 1, 0, 2, 1, 1}));
  // 3: the other minimum, 2 % above, factors far from A's.
  run.starts.push_back(fitted_start(102.0, {1, 1, 1, 2, 3, 0.5}, {2, 1, 0, 1, 1, 0, 3, 3}));
  StartResult failed;  // 4: ran and failed
  failed.ran = true;
  failed.outcome.failed = true;
  run.starts.push_back(failed);

  const Stability s = assess_stability(m, run, -1);
  ASSERT_EQ(s.starts.size(), 5u);
  EXPECT_EQ(s.starts[0].match.factor, (std::vector<int>{1, 0}));
  EXPECT_NEAR(s.starts[0].excess_percent, 0.05, 1e-9);
  const struct {
    bool reproduced, near_best;
  } expected[] = {{true, true}, {true, true}, {false, true}, {false, false}, {false, false}};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(s.starts[i].reproduced, expected[i].reproduced) << i;
    EXPECT_EQ(s.starts[i].near_best, expected[i].near_best) << i;
  }
  EXPECT_FALSE(s.starts[4].has_result);
  EXPECT_EQ(s.reproduced, 2);
  EXPECT_EQ(s.near_best, 3);
  EXPECT_EQ(stability_line(m, s, ""),
            "Stability: 2 of 5 starts reached the best chi2 within 0.1 % and reproduced every factor at r >= 0.9; "
            "shares of all variables over the 3 starts within 1 % of the best chi2: F0 43.14 to 43.75 %, "
            "F1 56.25 to 56.86 %.\n");
  // Shares of one variable: V2 is 0.5 * 4 and 3 * 4 in A, 14.29 % and 85.71 %.
  const Stability of_v2 = assess_stability(m, run, 2);
  EXPECT_NEAR(of_v2.least_share[0], 100.0 * 2.0 / 14.3, 1e-9);  // start 2: 3 * 4.1 = 12.3
  EXPECT_NEAR(of_v2.most_share[0], 100.0 * 2.0 / 14.0, 1e-9);
}
