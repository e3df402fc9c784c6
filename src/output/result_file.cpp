#include "output/result_file.h"

#include <cassert>
#include <string>
#include <string_view>
#include <vector>

#include "formats/number_text.h"

namespace {

constexpr std::size_t kFlushAt = 1 << 20;

// The table text, collected and handed to the stream in large pieces.
class TableText {
 public:
  explicit TableText(std::FILE* out) : out_(out) { text_.reserve(kFlushAt + 4096); }
  ~TableText() { flush(); }
  TableText(const TableText&) = delete;
  TableText& operator=(const TableText&) = delete;

  void put(std::string_view s) {
    text_.append(s);
    if (text_.size() >= kFlushAt) flush();
  }
  void put(char c) { text_.push_back(c); }
  // "%lg" of value.
  void number(double value) {
    char buf[kNumberTextSize];
    text_.append(buf, format_lg(buf, value));
  }
  void flush() {
    if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), out_);
    text_.clear();
  }

 private:
  std::FILE* out_;
  std::string text_;
};

}  // namespace

void write_result(const Problem& problem, const FitState& state, std::FILE* out, const char* rotate_arg) {
  write_result(problem, state, out, rotate_arg, regression_table(problem, state, 1));
}

void write_result(const Problem& problem, const FitState& state, std::FILE* out, const char* rotate_arg, const RegressionTable& regression) {
  assert(problem.consistent() && state.fits(problem) && !problem.id_end.empty() == (problem.nrec > 0));
  const int nfakt = problem.nfakt;
  const auto nf = static_cast<std::size_t>(nfakt);
  TableText table(out);
  table.put(problem.text);
  if (rotate_arg != nullptr) {
    table.put("\trotate=");
    table.put(rotate_arg);
  }
  table.put('\n');
  table.put(problem.xnavn);
  for (const std::string& name : problem.faktnavn) {
    table.put('\t');
    table.put(name);
  }
  table.put("\tResidue\n");

  for (int s = 0; s < problem.nrec; ++s) {
    table.put(problem.id(s));
    const double* xs = state.x.data() + static_cast<std::size_t>(s) * nf;
    for (int f = 0; f < nfakt; ++f) {
      table.put('\t');
      table.number(xs[f]);
    }
    table.put('\t');
    table.number(state.t[static_cast<std::size_t>(s)]);
    table.put('\n');
  }

  table.put("\tTARNOK profiles:");
  for (int f = 0; f < nfakt; ++f) table.put('\t');
  table.put("\t\t\tRegression analysis:\n");
  for (const std::string& name : problem.faktnavn) {
    table.put('\t');
    table.put(name);
  }
  table.put("\tResidue\tChi2\tny");
  for (const std::string& name : problem.faktnavn) {
    table.put('\t');
    table.put(name);
    table.put("\ts(");
    table.put(name);
    table.put(')');
  }
  table.put('\n');

  const auto nv = static_cast<std::size_t>(problem.nvar);
  const std::vector<double>& chi = regression.chi;
  const std::vector<double>& coef = regression.coef;
  const std::vector<double>& se = regression.se;
  for (std::size_t v = 0; v < nv; ++v) {
    table.put(problem.varnavn[v]);
    table.put('\t');
    const double* pv = state.p.data() + v * nf;
    for (std::size_t f = 0; f < nf; ++f) {
      table.number(pv[f]);
      table.put('\t');
    }
    table.number(static_cast<double>(state.r[v]));
    table.put('\t');
    table.number(chi[v]);
    table.put('\t');
    for (std::size_t f = 0; f < nf; ++f) {
      table.put('\t');
      table.number(coef[v * nf + f]);
      table.put('\t');
      table.number(se[v * nf + f]);
    }
    table.put('\n');
  }
  for (int f = 0; f < nfakt; ++f) table.put('\t');
  table.put("\t\t");
  table.number(state.chi2);
  table.put('\t');
  table.put(std::to_string(state.nytot));
  table.put('\n');
}
