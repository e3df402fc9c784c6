// The report page from hand-made input: every section is there, records that are
// not dates are drawn in their order, the tables of starts and bootstrap are shown,
// a run without statistics lines still gives a page, the figures are those the
// report folder checks before the fit, and the navigation bar links the sections
// that ask for a link.
#include "report/html_report.h"
#include "report/warnings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

ReportInput small_input(const std::vector<std::string>& ids) {
  ReportInput in;
  in.run = {{"title", "T"}, {"factors", {"A", "B"}}, {"variables", {"Na", "Cl", "K"}},
            {"passes", {{{"chi2", 10.0}, {"ny", 5}, {"chi2_per_ny", 2.0}}, {{"chi2", 5.0}, {"ny", 5}, {"chi2_per_ny", 1.0}}}}};
  in.variables.headings = {"variable", "chi2/ny", "share beyond 3", "R2"};
  in.variables.rows = {{"Na", "0.5", "0", "0.99"}, {"Cl", "3", "0", "0.9"}, {"K", "1", "0.2", "0.9"}};
  in.records.headings = {"identifier", "chi2"};
  ResultNumbers& r = in.result;
  r.nfakt = 2, r.nvar = 3, r.nrec = static_cast<int>(ids.size());
  r.ids = ids;
  for (std::size_t s = 0; s < ids.size(); ++s) {
    in.records.rows.push_back({ids[s], std::to_string(s)});
    r.x.push_back(static_cast<double>(s));
    r.x.push_back(1.0);
    r.t.push_back(0.5);
  }
  r.p = {1, 0.1, 0.2, 1, 0.5, 0.5};
  r.r = {static_cast<double>(0.1f), static_cast<double>(-0.2f), 0.0};
  return in;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(HtmlReport, SectionsFiguresAndMarkedVariables) {
  ReportInput in = small_input({"2001-06-22", "2001-06-23", "2001-06-25"});
  in.starts = TextTable{{"start", "chi2"}, {{"1", "9.5"}}};
  ReportPages pages = make_report(in);
  const std::string& html = pages.html;
  for (const char* id : {"summary", "convergence", "profiles", "fingerprint", "contributions", "pairs", "variables",
                         "records", "residue", "starts"}) {
    EXPECT_NE(html.find(std::string("<section id=\"") + id + "\">"), std::string::npos) << id;
  }
  EXPECT_NE(html.find("<h3>Monthly means</h3>"), std::string::npos);
  EXPECT_NE(html.find(">Starts<"), std::string::npos);
  EXPECT_EQ(html.find("Q(true)"), std::string::npos);  // not a robust fit
  // Cl (chi2/ny 3) and K (share 0.2) are marked, Na is not.
  EXPECT_EQ(count(html, "<tr class=\"poor\">"), 2u);
  // Every figure is inline and written as a file, once.
  EXPECT_EQ(count(html, "<svg "), pages.figures.size());
  std::vector<std::string> names;
  for (const Figure& f : pages.figures) names.push_back(f.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
  EXPECT_EQ(count(html, "<section"), count(html, "</section>"));
  EXPECT_EQ(count(html, "<table>"), count(html, "</table>"));
}

TEST(HtmlReport, IdentifiersThatAreNotDatesARunWithoutPassesAndARobustFit) {
  ReportInput in = small_input({"a1", "2001-06-23", "b3"});
  in.run["passes"] = nlohmann::json::array();
  in.run["robust"] = {{"alpha", 4.0}, {"q_true", 120.5}, {"q_robust", 80.25}, {"measured", 9},
                      {"down_weighted", 1}, {"down_weighted_share", 1.0 / 9.0}};
  const std::string html = make_report(in).html;
  EXPECT_NE(html.find("drawn in their order"), std::string::npos);
  EXPECT_EQ(html.find("Monthly means"), std::string::npos);
  EXPECT_NE(html.find("No pass printed a statistics line."), std::string::npos);
  EXPECT_NE(html.find("Q(true), Q(robust)</td><td class=\"wrap\">120.5, 80.25</td>"), std::string::npos);
  EXPECT_NE(html.find("1 of 9 (11.11 %)"), std::string::npos);
}

// The report folder checks the paths of figure_names before the fit: the page must
// draw exactly those figures, in that order, for every combination of apportionment
// and bootstrap.
TEST(HtmlReport, FiguresAreThoseFigureNamesGives) {
  for (const bool apportioned : {false, true}) {
    for (const bool bootstrapped : {false, true}) {
      ReportInput in = small_input({"2001-06-22", "2001-06-23", "2001-06-25"});
      for (std::size_t v = 0; v < 3; ++v) in.pictures.push_back({{1, 2, 3}, {1.1, 1.9, 3.2}, {-1, 0, 1}, {1, 2}});
      if (apportioned) {
        in.run["apportionment"] = {{"variable", "K"}, {"observed_mean", 2.0},
                                   {"factors", {{{"factor", "A"}, {"mean", 1.5}, {"percent", 75.0}},
                                                {{"factor", "B"}, {"mean", 0.5}, {"percent", 25.0}}}}};
      }
      if (bootstrapped) {
        TextTable spread{{"factor", "variable", "base", "p05", "p25", "p50", "p75", "p95", "replicates"}, {}};
        for (const char* factor : {"A", "B"}) {
          for (const char* variable : {"Na", "Cl", "K"}) {
            spread.rows.push_back({factor, variable, "1", "0.5", "0.8", "1", "1.2", "1.5", "9"});
          }
        }
        in.bootstrap = spread;
        in.bootstrap_mapping =
            TextTable{{"factor", "mapped", "unmapped", "failed"}, {{"A", "9", "0", "0"}, {"B", "7", "2", "0"}}};
      }
      std::vector<std::string> drawn;
      for (const Figure& f : make_report(in).figures) drawn.push_back(f.name);
      ReportShape shape;
      shape.nfakt = 2;
      shape.nvar = 3;
      shape.apportionment = apportioned;
      shape.bootstrap = bootstrapped;
      EXPECT_EQ(drawn, figure_names(shape)) << "apportioned " << apportioned << ", bootstrapped " << bootstrapped;
    }
  }
  // Pairs among the first twelve factors only: 12 * 11 / 2 of them.
  ReportShape many;
  many.nfakt = 14;
  const std::vector<std::string> names = figure_names(many);
  const auto is_pair = [](const std::string& name) { return name.rfind("pair_", 0) == 0; };
  EXPECT_EQ(std::count_if(names.begin(), names.end(), is_pair), 66);
  EXPECT_NE(std::find(names.begin(), names.end(), "pair_11_12.svg"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "pair_12_13.svg"), names.end());
}

// The navigation bar links every section of the page, in page order.
TEST(HtmlReport, NavigationLinksTheLinkedSectionsInOrder) {
  ReportInput in = small_input({"2001-06-22", "2001-06-23", "2001-06-25"});
  in.run["apportionment"] = {{"variable", "K"}, {"observed_mean", 2.0}, {"factors", nlohmann::json::array()}};
  in.starts = TextTable{{"start", "chi2"}, {{"1", "9.5"}}};
  const std::string html = make_report(in).html;
  const std::size_t begin = html.find("<nav>");
  ASSERT_NE(begin, std::string::npos);
  EXPECT_EQ(html.substr(begin, html.find("</nav>") + 6 - begin),
            "<nav><a href=\"#warnings\">To notice</a><a href=\"#summary\">Summary</a><a href=\"#convergence\">"
            "Convergence</a><a href=\"#apportionment\">Apportionment</a><a href=\"#profiles\">Profiles</a>"
            "<a href=\"#fingerprint\">Fingerprint</a><a href=\"#contributions\">Contributions</a>"
            "<a href=\"#concentrations\">Concentrations</a><a href=\"#pairs\">Pairs</a><a href=\"#variables\">"
            "Variables</a><a href=\"#records\">Records</a><a href=\"#residue\">Residue</a><a href=\"#starts\">"
            "Starts</a></nav>");
  // Every section heading has its link.
  EXPECT_EQ(count(html, "<section id="), count(html.substr(begin, html.find("</nav>") - begin), "<a href="));
  EXPECT_EQ(html.find("<nav>"), html.find("</h1>") + 5) << "the bar follows the title";
  EXPECT_NE(html.find("<section id=\"apportionment\">"), std::string::npos);
  EXPECT_NE(html.find("<section id=\"starts\">"), std::string::npos);
}

// The box at the top: one finding per condition the run meets, each linking its
// section, and none for a run that meets no condition (the thresholds are stated
// either way).
TEST(HtmlReport, WarningsNameWhatTheRunMeetsAndLinkItsSection) {
  using Change = std::function<void(ReportInput&)>;
  auto stop = [](const char* reason, int passes, int result_pass, nlohmann::json converged, nlohmann::json diverged) {
    return nlohmann::json{{"reason", reason}, {"passes", passes}, {"result_pass", result_pass},
                          {"converged", converged}, {"diverged_pass", diverged}};
  };
  // A displacement's record: whether chi2 fell below the fit, and the swaps at two levels.
  auto displaced = [](bool decreased, int swaps_low, int swaps_high) {
    return nlohmann::json{{"chi2_decreased", decreased},
                          {"levels", {{{"dq", 0.5}, {"swaps", swaps_low}}, {{"dq", 4}, {"swaps", swaps_high}}}}};
  };
  struct Case {
    const char* what;
    Change change;
    std::vector<std::string> sections;
  };
  const Case cases[] = {
      {"nothing", [](ReportInput&) {}, {}},
      {"converged", [&](ReportInput& in) { in.run["stop"] = stop("converged", 80, 80, true, nullptr); }, {}},
      {"not converged",
       [&](ReportInput& in) { in.run["stop"] = stop("pass limit reached", 100, 101, false, nullptr); },
       {"convergence"}},
      {"interrupted", [&](ReportInput& in) { in.run["stop"] = stop("interrupted", 40, 41, nullptr, nullptr); },
       {"convergence"}},
      {"result far before the last pass",
       [&](ReportInput& in) { in.run["stop"] = stop("key pressed", 491, 27, nullptr, nullptr); }, {"convergence"}},
      {"diverged", [&](ReportInput& in) { in.run["stop"] = stop("diverged", 50, 48, nullptr, 50); }, {"convergence"}},
      {"many values down-weighted",
       [](ReportInput& in) { in.run["robust"] = {{"down_weighted_share", 0.1285}}; }, {"summary"}},
      {"few values down-weighted", [](ReportInput& in) { in.run["robust"] = {{"down_weighted_share", 0.04}}; }, {}},
      {"starts at other minima",
       [](ReportInput& in) { in.starts = TextTable{{"start", "chi2"}, {{"1", "100"}, {"2", "100.5"}, {"3", "120"}}}; },
       {"starts"}},
      {"starts that agree",
       [](ReportInput& in) { in.starts = TextTable{{"start", "chi2"}, {{"1", "100"}, {"2", "100.5"}}}; }, {}},
      {"factors the bootstrap swaps",
       [](ReportInput& in) {
         in.bootstrap_mapping = TextTable{{"factor", "mapped", "unmapped", "failed"}, {{"A", "9", "1", "0"}, {"B", "5", "5", "0"}}};
       },
       {"bootstrap_mapping"}},
      {"displacement without swaps or decrease",
       [&](ReportInput& in) { in.run["displacement"] = displaced(false, 0, 0); }, {}},
      {"displacement with a swap", [&](ReportInput& in) { in.run["displacement"] = displaced(false, 0, 1); },
       {"displacement"}},
      {"displacement below the fit", [&](ReportInput& in) { in.run["displacement"] = displaced(true, 0, 0); },
       {"displacement"}},
      {"bootstrap displacement with swaps and a decrease",
       [&](ReportInput& in) { in.run["bootstrap_displacement"] = displaced(true, 2, 0); },
       {"bs_displacement", "bs_displacement"}},
      {"bootstrap displacement without either",
       [&](ReportInput& in) { in.run["bootstrap_displacement"] = displaced(false, 0, 0); }, {}},
      {"a species fitted badly", [](ReportInput& in) { in.variables.rows[1][3] = "0.3"; }, {"variables"}},
      {"an outlying record", [](ReportInput& in) { in.records.rows[2][1] = "50"; }, {"records"}},
  };
  for (const Case& c : cases) {
    ReportInput in = small_input({"2001-06-22", "2001-06-23", "2001-06-25", "2001-06-26"});
    in.variables.rows = {{"Na", "0.5", "0", "0.99"}, {"Cl", "1.5", "0.01", "0.9"}, {"K", "1", "0", "0.9"}};
    for (std::vector<std::string>& row : in.records.rows) row[1] = "1";
    c.change(in);
    const TextTable levels{{"dq", "swaps", "largest_decrease"}, {{"0.5", "0", "0"}}};
    if (in.run.contains("displacement")) in.displacement_summary = levels;
    if (in.run.contains("bootstrap_displacement")) in.bs_displacement_summary = levels;
    std::vector<std::string> sections;
    for (const Warning& w : report_warnings(in)) sections.push_back(w.section);
    EXPECT_EQ(sections, c.sections) << c.what;
    const std::string html = make_report(in).html;
    const std::size_t box = html.find("<div class=\"warnings\">");
    ASSERT_NE(box, std::string::npos) << c.what;
    const std::string text = html.substr(box, html.find("</div>", box) - box);
    EXPECT_EQ(count(text, "<li>"), c.sections.size()) << c.what;
    for (const std::string& section : c.sections) EXPECT_NE(text.find("href=\"#" + section + "\""), std::string::npos);
    EXPECT_EQ(text.find("Nothing") != std::string::npos, c.sections.empty()) << c.what;
    EXPECT_NE(text.find("chi2/ny above 2 or R2 below 0.5"), std::string::npos) << "thresholds on the page";
    const bool displacement = in.run.contains("displacement") || in.run.contains("bootstrap_displacement");
    EXPECT_EQ(text.find("factors swapped at any interval end") != std::string::npos, displacement) << c.what;
    // The loud statement in the displacement's own section, exactly when it warns.
    const bool warned = std::count(c.sections.begin(), c.sections.end(), "displacement") +
                            std::count(c.sections.begin(), c.sections.end(), "bs_displacement") > 0;
    EXPECT_EQ(html.find("<p style=\"color:#a00000\"><strong>") != std::string::npos, warned) << c.what;
  }
}

// New names reach every place the page shows a factor: tables, headings, legends
// and chart titles; the old ones are gone from the page and its figures.
TEST(HtmlReport, FactorNamesAppliedEverywhere) {
  ReportInput in = small_input({"2001-06-22", "2001-06-23", "2001-06-25"});
  in.run["factors"] = {"Alpha", "Betaa"};
  in.run["apportionment"] = {{"variable", "K"}, {"observed_mean", 2.0},
                             {"factors", {{{"factor", "Alpha"}, {"mean", 1.5}, {"percent", 75.0}},
                                          {{"factor", "Betaa"}, {"mean", 0.5}, {"percent", 25.0}}}}};
  in.variables.headings.insert(in.variables.headings.end(), {"Alpha", "s(Alpha)", "Betaa", "s(Betaa)"});
  for (std::vector<std::string>& row : in.variables.rows) row.insert(row.end(), {"1", "0.1", "2", "0.2"});
  in.starts = TextTable{{"start", "chi2", "r Alpha", "r Betaa"}, {{"1", "9.5", "1", "1"}}};
  in.bootstrap = TextTable{{"factor", "variable", "base", "p05", "p25", "p50", "p75", "p95", "replicates"},
                           {{"Alpha", "Na", "1", "0.5", "0.8", "1", "1.2", "1.5", "9"},
                            {"Alpha", "Cl", "1", "0.5", "0.8", "1", "1.2", "1.5", "9"},
                            {"Betaa", "Na", "1", "0.5", "0.8", "1", "1.2", "1.5", "9"}}};
  in.bootstrap_mapping = TextTable{{"factor", "mapped", "unmapped", "failed"}, {{"Alpha", "9", "0", "0"}, {"Betaa", "9", "0", "0"}}};
  in.observed = {{1, 2, 3}, {1, 2, 3}, {2, std::nan(""), 2}};
  rename_factors(&in, {"Gamma", "Delta"});
  const ReportPages pages = make_report(in);
  std::string all = pages.html;
  for (const Figure& f : pages.figures) all += f.svg;
  EXPECT_EQ(all.find("Alpha"), std::string::npos);
  EXPECT_EQ(all.find("Betaa"), std::string::npos);
  for (const char* shown : {"<td class=\"name\">Gamma</td>", "<th>s(Delta)</th>", "<th>r Gamma</th>",
                            "Bootstrap spread of Delta", "Profile of Gamma", "Contribution of Delta",
                            "Gamma: contribution to K"}) {
    EXPECT_NE(all.find(shown), std::string::npos) << shown;
  }
  // The apportionment drawn again from the numbers gives the record's sums: the mean
  // of K over its measured records, and per factor its profile element times its
  // mean contribution (A: 0.5 x 1, B: 0.5 x 1).
  const nlohmann::json a = apportionment_record(in, 2);
  EXPECT_EQ(a["observed_mean"], 2.0);
  EXPECT_EQ(a["factors"][0]["factor"], "Gamma");
  EXPECT_EQ(a["factors"][0]["mean"], 0.5 * 1.0);
  EXPECT_EQ(a["factors"][1]["percent"], 50.0);
}
