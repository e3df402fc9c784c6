#include "displacement/hold.h"

#include <charconv>
#include <cmath>
#include <string>

#include "control/failure.h"
#include "control/text_format.h"

namespace {

int index_of(const std::vector<std::string>& names, std::string_view name) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

HeldElement parse_hold(const Problem& problem, std::string_view text) {
  const std::string typed(text);
  const std::size_t equals = text.rfind('=');
  const std::size_t colon = equals == std::string_view::npos ? std::string_view::npos : text.rfind(':', equals);
  if (colon == std::string_view::npos) {
    fail("Error: --hold needs FACTOR:VARIABLE=VALUE, not '%s'!\n", quote_cell(typed).c_str());
  }
  HeldElement held;
  held.factor = index_of(problem.faktnavn, text.substr(0, colon));
  held.variable = index_of(problem.varnavn, text.substr(colon + 1, equals - colon - 1));
  if (held.factor < 0) fail("Error: --hold %s: no factor of that name!\n", quote_cell(typed).c_str());
  if (held.variable < 0) fail("Error: --hold %s: no variable of that name!\n", quote_cell(typed).c_str());
  const std::string_view number = text.substr(equals + 1);
  const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), held.value,
                                         std::chars_format::general);
  if (number.empty() || ec != std::errc() || ptr != number.data() + number.size() || !std::isfinite(held.value) ||
      held.value < 0) {
    fail("Error: --hold %s: the value must be a number of at least 0!\n", quote_cell(typed).c_str());
  }
  const auto e = static_cast<std::size_t>(held.variable) * static_cast<std::size_t>(problem.nfakt) +
                 static_cast<std::size_t>(held.factor);
  if (problem.fp[e] == 0) fail("Error: --hold %s: the form holds that element already!\n", quote_cell(typed).c_str());
  return held;
}

Problem holding(const Problem& problem, const std::vector<HeldElement>& holds) {
  Problem held = problem;
  for (const HeldElement& h : holds) {
    held.fp[static_cast<std::size_t>(h.variable) * static_cast<std::size_t>(problem.nfakt) +
            static_cast<std::size_t>(h.factor)] = 0;
  }
  return held;
}

double mean_contribution(const Problem& problem, const FitState& state, int f) {
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  double sum = 0.0;
  for (int s = 0; s < problem.nrec; ++s) sum += state.x[static_cast<std::size_t>(s) * nfakt + static_cast<std::size_t>(f)];
  return sum / problem.nrec;
}

double scale_free_element(const Problem& problem, const FitState& state, int f, int v) {
  const auto e = static_cast<std::size_t>(v) * static_cast<std::size_t>(problem.nfakt) + static_cast<std::size_t>(f);
  return state.p[e] * mean_contribution(problem, state, f);
}

std::string holds_text(const Problem& problem, const std::vector<HeldElement>& holds) {
  std::string text;
  for (const HeldElement& h : holds) {
    text += text.empty() ? "held " : ", ";
    text += format_text("%s:%s=%lg", problem.faktnavn[static_cast<std::size_t>(h.factor)].c_str(),
                        problem.varnavn[static_cast<std::size_t>(h.variable)].c_str(), h.value);
  }
  return text;
}

std::vector<HeldElement> parse_holds(const Problem& problem, const std::vector<std::string>& texts) {
  std::vector<HeldElement> holds;
  for (const std::string& text : texts) {
    const HeldElement held = parse_hold(problem, text);
    for (const HeldElement& earlier : holds) {
      if (earlier.factor == held.factor && earlier.variable == held.variable) {
        fail("Error: --hold %s: that element is held twice!\n", text.c_str());
      }
    }
    holds.push_back(held);
  }
  return holds;
}
