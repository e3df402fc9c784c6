#include "reference/random_model.h"

#include <random>

TestModel random_model(std::uint64_t seed, const ProblemShape& shape) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  TestModel m;
  m.nfakt = shape.nfakt;
  m.nvar = shape.nvar;
  m.nrec = shape.nrec;
  m.offset = shape.offset;
  m.rotate = shape.rotate;
  m.damp = 10;
  const auto nfakt = static_cast<std::size_t>(m.nfakt);
  const auto nvar = static_cast<std::size_t>(m.nvar);
  const auto nrec = static_cast<std::size_t>(m.nrec);
  for (std::size_t f = 0; f < nfakt; ++f) m.faktnavn.push_back("F" + std::to_string(f + 1));
  for (std::size_t v = 0; v < nvar; ++v) m.varnavn.push_back("V" + std::to_string(v + 1));
  m.text = "Random problem";
  m.xnavn = "Sample";

  m.p.assign(nvar * nfakt, 0.0);
  m.fp.assign(nvar * nfakt, 0);
  for (std::size_t k = 0; k < m.p.size(); ++k) {
    m.p[k] = uniform(rng) < 0.3 ? 0.1 + uniform(rng) : 0.01 * uniform(rng);
    if (uniform(rng) < 0.05) m.p[k] = 0.0;
    m.fp[k] = uniform(rng) < shape.held ? 0 : 1;
  }
  if (m.offset) {
    for (std::size_t v = 0; v < nvar; ++v) m.p[v * nfakt] = 0.05 * uniform(rng);
  }
  if (shape.singular && nfakt >= 3) {
    for (std::size_t v = 0; v < nvar; ++v) {
      m.p[v * nfakt + nfakt - 1] = 0.0;                    // a factor with a zero profile
      m.p[v * nfakt + nfakt - 2] = m.p[v * nfakt + nfakt - 3];  // two equal profiles
    }
  }

  m.rawdata.assign(nrec * nvar, 0.0f);
  m.usik.assign(nrec * nvar, 0.0f);
  std::vector<double> c(nfakt);
  for (std::size_t s = 0; s < nrec; ++s) {
    for (std::size_t f = 0; f < nfakt; ++f) c[f] = uniform(rng) < 0.3 ? 0.0 : 3.0 * uniform(rng);
    if (m.offset) c[0] = 1.0;
    const bool unmeasured = shape.singular && s % 7 == 3;
    for (std::size_t v = 0; v < nvar; ++v) {
      double y = 0.0;
      for (std::size_t f = 0; f < nfakt; ++f) y += m.p[v * nfakt + f] * c[f];
      const double u = 0.05 * y + 0.01 + 0.01 * uniform(rng);
      m.rawdata[s * nvar + v] = static_cast<float>(y + u * (2.0 * uniform(rng) - 1.0));
      m.usik[s * nvar + v] = static_cast<float>(u);
      if (unmeasured || uniform(rng) < shape.missing) m.usik[s * nvar + v] = uniform(rng) < 0.5 ? 0.0f : -1.0f;
    }
    std::string id = "S" + std::to_string(s + 1);
    m.ids += id;
    m.id_end.push_back(m.ids.size());
  }

  m.starting_p = m.p;
  m.dy.assign(nrec * nvar, 0.0f);
  m.x.assign(nrec * nfakt, 0.0);
  m.t.assign(nrec, 0.0);
  m.r.assign(nvar, 0.0f);
  m.ny.assign(nvar, 0);
  m.sum2.assign(nfakt, 0.0);
  return m;
}
