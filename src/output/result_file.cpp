#include "output/result_file.h"

#include <vector>

#include "output/regression.h"

void write_result(Model& m, std::FILE* out, const char* rotate_arg) {
  const int nfakt = m.nfakt;
  std::fprintf(out, "%s", m.text.c_str());
  if (rotate_arg != nullptr) std::fprintf(out, "\trotate=%s", rotate_arg);
  std::fprintf(out, "\n%s", m.xnavn.c_str());
  for (const std::string& name : m.faktnavn) std::fprintf(out, "\t%s", name.c_str());
  std::fprintf(out, "\tResidue\n");

  for (int s = 0; s < m.nrec; ++s) {
    std::string_view id = m.id(s);
    std::fwrite(id.data(), 1, id.size(), out);
    const double* xs = m.x.data() + static_cast<std::size_t>(s) * static_cast<std::size_t>(nfakt);
    for (int f = 0; f < nfakt; ++f) std::fprintf(out, "\t%lg", xs[f]);
    std::fprintf(out, "\t%lg\n", m.t[static_cast<std::size_t>(s)]);
  }

  std::fprintf(out, "\tTARNOK profiles:");
  for (int f = 0; f < nfakt; ++f) std::fprintf(out, "\t");
  std::fprintf(out, "\t\t\tRegression analysis:\n");
  for (const std::string& name : m.faktnavn) std::fprintf(out, "\t%s", name.c_str());
  std::fprintf(out, "\tResidue\tChi2\tny");
  for (const std::string& name : m.faktnavn) std::fprintf(out, "\t%s\ts(%s)", name.c_str(), name.c_str());
  std::fprintf(out, "\n");

  std::vector<double> coef(static_cast<std::size_t>(nfakt));
  std::vector<double> se(static_cast<std::size_t>(nfakt));
  for (int v = 0; v < m.nvar; ++v) {
    std::fprintf(out, "%s\t", m.varnavn[static_cast<std::size_t>(v)].c_str());
    const double* pv = m.p.data() + static_cast<std::size_t>(v) * static_cast<std::size_t>(nfakt);
    for (int f = 0; f < nfakt; ++f) std::fprintf(out, "%lg\t", pv[f]);
    std::fprintf(out, "%lg\t", static_cast<double>(m.r[static_cast<std::size_t>(v)]));
    double chi = regression(m, v, coef.data(), se.data());
    std::fprintf(out, "%lg\t", chi);
    for (int f = 0; f < nfakt; ++f) {
      std::fprintf(out, "\t%lg\t%lg", coef[static_cast<std::size_t>(f)], se[static_cast<std::size_t>(f)]);
    }
    std::fprintf(out, "\n");
  }
  for (int f = 0; f < nfakt; ++f) std::fprintf(out, "\t");
  std::fprintf(out, "\t\t%lg\t%d\n", m.chi2, m.nytot);
}
