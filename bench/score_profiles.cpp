// Recovery of known sources: compares the fitted profiles in a result table with
// the true profiles of bench/make_measured. Each true source is paired with one
// fitted factor, greedily by the highest cosine similarity of their profiles
// (species scaled by the true profiles' species means); prints the mean and the
// lowest cosine of the pairs. With "correlation", pairs and scores by the
// correlation of the profiles across the species instead (unscaled).
//
//   score_profiles truth.tsv result.tsv [correlation]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> cells(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  std::string cell;
  while (std::getline(in, cell, '\t')) out.push_back(cell);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const bool pearson = argc == 4 && std::string(argv[3]) == "correlation";
  if (argc != 3 && !pearson) {
    std::fprintf(stderr, "usage: score_profiles truth.tsv result.tsv [correlation]\n");
    return 1;
  }
  std::ifstream truth_file(argv[1]);
  std::string line;
  std::getline(truth_file, line);
  const std::size_t k = cells(line).size() - 1;
  std::vector<std::vector<double>> truth;  // species x sources
  while (std::getline(truth_file, line)) {
    std::vector<std::string> c = cells(line);
    std::vector<double> row;
    for (std::size_t i = 1; i <= k; ++i) row.push_back(std::atof(c[i].c_str()));
    truth.push_back(row);
  }
  std::ifstream result_file(argv[2]);
  while (std::getline(result_file, line) && line.find("profiles:") == std::string::npos) {
  }
  std::getline(result_file, line);
  const std::size_t nf = std::stoul(std::to_string(k));
  std::vector<std::vector<double>> fitted;
  for (std::size_t j = 0; j < truth.size() && std::getline(result_file, line); ++j) {
    std::vector<std::string> c = cells(line);
    std::vector<double> row;
    for (std::size_t i = 1; i <= nf; ++i) row.push_back(std::atof(c[i].c_str()));
    fitted.push_back(row);
  }
  if (fitted.size() != truth.size()) {
    std::fprintf(stderr, "score_profiles: the result holds %zu species, the truth %zu\n", fitted.size(), truth.size());
    return 1;
  }
  const std::size_t m = truth.size();
  std::vector<double> scale(m, 0.0);
  for (std::size_t j = 0; j < m; ++j) {
    for (std::size_t c = 0; c < k; ++c) scale[j] += truth[j][c] / static_cast<double>(k);
  }
  auto cosine = [&](std::size_t a, std::size_t b) {
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t j = 0; j < m; ++j) {
      const double x = truth[j][a] / scale[j], y = fitted[j][b] / scale[j];
      ab += x * y;
      aa += x * x;
      bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
  };
  auto correlation = [&](std::size_t a, std::size_t b) {
    double ma = 0, mb = 0;
    for (std::size_t j = 0; j < m; ++j) {
      ma += truth[j][a] / static_cast<double>(m);
      mb += fitted[j][b] / static_cast<double>(m);
    }
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t j = 0; j < m; ++j) {
      const double x = truth[j][a] - ma, y = fitted[j][b] - mb;
      ab += x * y;
      aa += x * x;
      bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
  };
  auto score = [&](std::size_t a, std::size_t b) { return pearson ? correlation(a, b) : cosine(a, b); };
  std::vector<bool> used_t(k, false), used_f(k, false);
  double sum = 0.0, lowest = 1.0;
  for (std::size_t pair = 0; pair < k; ++pair) {
    double best = -1.0;
    std::size_t bt = 0, bf = 0;
    for (std::size_t a = 0; a < k; ++a) {
      for (std::size_t b = 0; b < k; ++b) {
        if (!used_t[a] && !used_f[b] && score(a, b) > best) {
          best = score(a, b);
          bt = a;
          bf = b;
        }
      }
    }
    used_t[bt] = used_f[bf] = true;
    sum += best;
    lowest = std::min(lowest, best);
  }
  std::printf("%.4f\t%.4f\n", sum / static_cast<double>(k), lowest);
  return 0;
}
