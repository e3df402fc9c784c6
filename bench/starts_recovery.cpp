// How much the start matters on synthetic data with known sources: fits N starts
// (the given profiles and N - 1 scattered ones, exactly as --starts makes them)
// and prints per start its passes, final chi2 and chi2/ny and the recovery: the
// mean over the true factors of the correlation of each true profile with the
// fitted profile that correlates best with it.
//
//   starts_recovery FOLDER N SEED PASSES CONVERGE [free]
// FOLDER holds profile.tsv, form.tsv, data.tsv and truth.tsv (bench/make_data).
// With "free", every profile element is free (a harder problem than the form's).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/failure.h"
#include "test_model.h"
#include "ensemble/mapping.h"
#include "ensemble/starts.h"
#include "fit/iteration.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/profile_format.h"

int main(int argc, char** argv) {
  if (argc != 6 && !(argc == 7 && std::string(argv[6]) == "free")) {
    std::fprintf(stderr, "usage: starts_recovery FOLDER N SEED PASSES CONVERGE [free]\n");
    return 1;
  }
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]);
  const auto seed = std::strtoull(argv[3], nullptr, 10);
  try {
    TestModel m;
    m.damp = 10;
    m.threads = 1;
    read_profile(m, folder + "/profile.tsv");
    read_form(m, folder + "/form.tsv");
    read_data(m, folder + "/data.tsv");
    if (argc == 7) std::fill(m.fp.begin(), m.fp.end(), 1);
    TestModel truth;
    read_profile(truth, folder + "/truth.tsv");
    FitOptions options;
    options.passes = std::atol(argv[4]);
    options.converge = std::atof(argv[5]);
    NoKeyboard keyboard;
    std::printf("start\tpasses\tchi2\tchi2/ny\trecovery\n");
    for (int i = 0; i < count; ++i) {
      TestModel fit = m;
      perturb_profiles(fit, seed, i);
      const FitOutcome outcome = run_fit(fit, keyboard, options, nullptr);
      if (outcome.failed) {
        std::printf("%d\tfailed\n", i + 1);
        continue;
      }
      // Profiles as columns over the variables: the same layout as contributions.
      const std::vector<FactorMatch> matches =
          best_matches({truth.p.data(), m.nvar, m.nfakt}, {fit.p.data(), m.nvar, m.nfakt});
      double recovery = 0.0;
      for (const FactorMatch& match : matches) recovery += match.r;
      recovery /= m.nfakt;
      std::printf("%d\t%ld\t%.6g\t%.6g\t%.4f\n", i + 1, outcome.passes, fit.chi2, fit.chi2 / fit.nytot, recovery);
    }
  } catch (const Failure& failure) {
    std::fputs(failure.what(), stderr);
    return 1;
  }
  return 0;
}
