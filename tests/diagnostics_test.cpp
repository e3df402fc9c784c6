// Diagnostics of the final model on hand-built problems, and the checksum of the
// run record.
#include "stats/diagnostics.h"

#include <gtest/gtest.h>

#include <cmath>

#include "output/sha256.h"
#include "support.h"

namespace {

// One factor, two variables, four records. Variable 0: values 1, 2, 3, 4 with
// residuals 0.5, -0.5, 0.5, -4 and uncertainty 1 (record 3 missing in variable 1).
TestModel small_model() {
  TestModel m = make_model(1, 2, 4);
  m.rawdata = {1, 10, 2, 20, 3, 30, 4, 40};
  m.dy = {0.5f, 1, -0.5f, -1, 0.5f, 1, -4, 0};
  m.usik = {1, 2, 1, 2, 1, 2, 1, 0};
  m.x = {1, 2, 3, 4};
  m.p = {1, 10};
  m.t = {0.1, 0.2, 0.3, 0.4};
  m.ny = {3, 2};
  return m;
}

}  // namespace

TEST(Diagnostics, VariablesCountResidualsAndFitALine) {
  TestModel m = small_model();
  RegressionTable regression{{17.0, 0.75}, {0, 0}, {0, 0}};
  Diagnostics d = diagnose(m, regression);
  ASSERT_EQ(d.variables.size(), 2u);
  const VariableDiagnostics& v0 = d.variables[0];
  EXPECT_EQ(v0.measured, 4);
  EXPECT_EQ(v0.missing, 0);
  EXPECT_EQ(v0.chi2, 17.0);  // taken from the regression, as the result table prints it
  EXPECT_EQ(v0.dof, 3);
  EXPECT_DOUBLE_EQ(v0.chi2_per_dof, 17.0 / 3);
  EXPECT_EQ(v0.beyond, 1);  // only -4 lies beyond 3
  EXPECT_DOUBLE_EQ(v0.beyond_share, 0.25);
  EXPECT_DOUBLE_EQ(v0.observed_mean, 2.5);
  // Fitted = observed - residual: 0.5, 2.5, 2.5, 8.
  EXPECT_DOUBLE_EQ(v0.fitted_mean, 13.5 / 4);
  // Least squares of (0.5, 2.5, 2.5, 8) on (1, 2, 3, 4): about the means 2.5 and
  // 3.375, sxx = 5, sxy = 11.25, syy = 31.1875: slope 2.25, intercept -2.25.
  EXPECT_NEAR(v0.slope, 2.25, 1e-12);
  EXPECT_NEAR(v0.intercept, -2.25, 1e-12);
  EXPECT_NEAR(v0.r2, 11.25 * 11.25 / (5 * 31.1875), 1e-12);
  const VariableDiagnostics& v1 = d.variables[1];
  EXPECT_EQ(v1.measured, 3);
  EXPECT_EQ(v1.missing, 1);
  EXPECT_EQ(v1.beyond, 0);
  EXPECT_DOUBLE_EQ(v1.observed_mean, 20.0);
  // Histogram: -4 in the bin [-4, -3.5); 0.5 twice in [0.5, 1); -0.5 in [-0.5, 0).
  const auto& h = d.samples[0].histogram;
  const auto bin = [](double q) { return static_cast<std::size_t>(1 + std::floor((q + kBinEdge) / kBinWidth)); };
  EXPECT_EQ(h[bin(-4)], 1);
  EXPECT_EQ(h[bin(0.5)], 2);
  EXPECT_EQ(h[bin(-0.5)], 1);
  long total = 0;
  for (long c : h) total += c;
  EXPECT_EQ(total, 4);
  EXPECT_EQ(d.samples[0].observed.size(), 4u);
}

TEST(Diagnostics, RecordsKeepTheLargestScaledResidualAndOutliersStayOnThePicture) {
  TestModel m = small_model();
  RegressionTable regression{{0, 0}, {0, 0}, {0, 0}};
  Diagnostics d = diagnose(m, regression);
  ASSERT_EQ(d.records.size(), 4u);
  // Record 0: scaled residuals 0.5 and 0.5: chi2 0.5, the first of equal ones kept.
  EXPECT_EQ(d.records[0].measured, 2);
  EXPECT_DOUBLE_EQ(d.records[0].chi2, 0.5);
  EXPECT_EQ(d.records[0].largest_variable, 0);
  // Record 3: variable 1 missing; -4 in variable 0.
  EXPECT_EQ(d.records[3].measured, 1);
  EXPECT_DOUBLE_EQ(d.records[3].chi2, 16.0);
  EXPECT_DOUBLE_EQ(d.records[3].largest, -4.0);
  // Nothing measured: no variable named.
  m.usik = {0, 0, 1, 2, 1, 2, 1, 0};
  EXPECT_EQ(diagnose(m, regression).records[0].largest_variable, -1);

  // Many records: the picture is thinned, every outlier kept.
  const int n = 50000;
  TestModel big = make_model(1, 1, n);
  for (int s = 0; s < n; ++s) {
    big.rawdata[static_cast<std::size_t>(s)] = static_cast<float>(s);
    big.usik[static_cast<std::size_t>(s)] = 1;
    big.dy[static_cast<std::size_t>(s)] = s % 1000 == 7 ? 10.0f : 0.1f;
  }
  Diagnostics bd = diagnose(big, RegressionTable{{0}, {0}, {0}});
  const VariableSample& sample = bd.samples[0];
  EXPECT_LE(sample.observed.size(), static_cast<std::size_t>(kSamplePoints));
  EXPECT_GE(sample.observed.size(), static_cast<std::size_t>(kSamplePoints) / 2);
  int outliers = 0;
  for (std::size_t i = 0; i < sample.observed.size(); ++i) {
    if (sample.observed[i] - sample.fitted[i] > 5) ++outliers;
  }
  EXPECT_EQ(outliers, n / 1000);
  EXPECT_EQ(bd.variables[0].beyond, n / 1000);
}

TEST(Diagnostics, ApportionmentSplitsTheMeanOfOneVariable) {
  // Two factors; mean contributions 2 and 6; profile of variable 1: 0.5 and 0.25,
  // so the factors give 1 and 1.5 (40 % and 60 %).
  TestModel m = make_model(2, 2, 2);
  m.x = {1, 4, 3, 8};
  m.p = {1, 1, 0.5, 0.25};
  m.rawdata = {0, 2, 0, 4};
  m.usik = {1, 1, 1, 0};
  m.varnavn = {"Fe", "PM2.5"};
  ASSERT_EQ(find_variable(m, "PM2.5"), 1);
  EXPECT_EQ(find_variable(m, "PM10"), -1);
  Apportionment a = apportion(m, 1);
  EXPECT_DOUBLE_EQ(a.mean[0], 1.0);
  EXPECT_DOUBLE_EQ(a.mean[1], 1.5);
  EXPECT_DOUBLE_EQ(a.percent[0], 40.0);
  EXPECT_DOUBLE_EQ(a.percent[1], 60.0);
  EXPECT_DOUBLE_EQ(a.observed_mean, 2.0);  // the second record is missing
}

TEST(Sha256, KnownDigests) {
  // FIPS 180-2 examples and an input that pads into a second block.
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(sha256_hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  TempDir dir;
  FileDigest digest = digest_file(dir.write("abc.txt", "abc"));
  EXPECT_TRUE(digest.read);
  EXPECT_EQ(digest.size, 3u);
  EXPECT_EQ(digest.sha256, sha256_hex("abc"));
  EXPECT_FALSE(digest_file(dir.file("missing")).read);
}
