#include "output/run_record.h"

#include <chrono>
#include <ctime>

#include "control/option_table.h"
#include "fit/stop_line.h"
#include "output/sha256.h"
#include "platform/clock.h"
#include "robust/summary.h"

namespace {

nlohmann::json input_file(const std::string& path) {
  FileDigest digest = digest_file(path);
  nlohmann::json file = {{"path", path}};
  if (digest.read) {
    file["size"] = digest.size;
    file["sha256"] = digest.sha256;
  } else {
    file["size"] = nullptr;
    file["sha256"] = nullptr;
  }
  return file;
}

}  // namespace

std::string utc_now() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  const std::tm utc = utc_calendar(now);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

nlohmann::json run_record(const Problem& problem, const FitState& state, const FitSettings& settings,
                          const std::vector<std::string>& argv, const Options& options,
                          const FitOutcome& outcome, const RunTimes& times, const Apportionment* apportionment) {
  const std::vector<std::string>& args = options.args;
  nlohmann::json record;
  record["program"] = {{"name", "tarnok"}, {"version", TARNOK_VERSION}};
  record["command_line"] = argv;
  record["inputs"] = {{"profile", input_file(args[1])}, {"form", input_file(args[2])}, {"data", input_file(args[3])}};
  record["result"] = args[4];
  record["title"] = problem.text;
  record["identifier_heading"] = problem.xnavn;
  record["factors"] = problem.faktnavn;
  record["variables"] = problem.varnavn;
  record["dimensions"] = {{"nfakt", problem.nfakt}, {"nvar", problem.nvar}, {"nrec", problem.nrec}};
  record["mode"] = problem.offset != 0 ? "offset" : "normal";
  if (args.size() == 6) {
    record["rotate"] = {{"typed", args[5]}, {"value", static_cast<double>(settings.rotate)}};
  } else {
    record["rotate"] = {{"typed", nullptr}, {"value", static_cast<double>(settings.rotate)}};
  }
  record["options"] = options_record(options);
  record["threads"] = settings.threads;

  nlohmann::json passes = nlohmann::json::array();
  for (std::size_t k = 0; k < outcome.lines.size(); ++k) {
    const PassLine& line = outcome.lines[k];
    passes.push_back({{"pass", k + 1}, {"chi2", line.chi2}, {"ny", line.nytot}, {"chi2_per_ny", line.ratio},
                      {"mean_squared_contribution_less_one", line.sumsq}});
  }
  record["passes"] = passes;
  record["stop"] = {{"reason", stop_cause(outcome.reason)},
                    {"passes", outcome.passes},
                    {"result_pass", outcome.result_pass},
                    {"converged", options.converge > 0 ? nlohmann::json(!outcome.not_converged) : nlohmann::json()},
                    {"diverged_pass", outcome.diverged_pass > 0 ? nlohmann::json(outcome.diverged_pass) : nlohmann::json()}};
  if (settings.accelerate) {
    // The passes that started from extrapolated profiles, and how many were tried.
    record["extrapolation"] = {{"tried", outcome.extrapolations_tried},
                               {"accepted", outcome.extrapolated.size()},
                               {"accepted_passes", outcome.extrapolated}};
  }
  record["totals"] = {{"chi2", state.chi2}, {"ny", state.nytot}, {"chi2_per_ny", state.chi2 / state.nytot}};
  if (options.robust > 0) {
    // In robust mode the fit's chi2 is Q(robust); Q(true) weighs the same residuals
    // with the plain uncertainties.
    const RobustSummary robust = summarize_robust(problem, state, options.robust);
    record["robust"] = {{"alpha", robust.alpha},       {"q_true", robust.q_true},
                        {"q_robust", robust.q_robust}, {"measured", robust.measured},
                        {"down_weighted", robust.down}, {"down_weighted_share", robust.share()}};
  }

  if (apportionment != nullptr) {
    nlohmann::json shares = nlohmann::json::array();
    for (std::size_t f = 0; f < apportionment->mean.size(); ++f) {
      shares.push_back({{"factor", problem.faktnavn[f]}, {"mean", apportionment->mean[f]}, {"percent", apportionment->percent[f]}});
    }
    record["apportionment"] = {{"variable", problem.varnavn[static_cast<std::size_t>(apportionment->variable)]},
                               {"observed_mean", apportionment->observed_mean},
                               {"factors", shares}};
  }
  record["times"] = {{"start_utc", times.start_utc},
                     {"end_utc", times.end_utc},
                     {"read_seconds", times.read_seconds},
                     {"fit_seconds", times.fit_seconds},
                     {"output_seconds", times.output_seconds},
                     {"diagnostics_seconds", times.diagnostics_seconds}};
  return record;
}
