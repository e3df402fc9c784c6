// The prepare command as named phases: plan from the options, check the output
// folder, read the measured tables, settle them for the fit, build the starting
// files, write them, and tell the analyst how to run the fit.
#include "app/prepare_command.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "platform/signals.h"
#include "prepare/fit_files.h"
#include "prepare/prepare_options.h"
#include "prepare/prepared_tables.h"
#include "prepare/species_table.h"

namespace {

std::string shell_word(const std::string& word) {
  bool plain = !word.empty();
  for (char c : word) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || std::string_view("/._-+=:,@%").find(c) != std::string_view::npos)) {
      plain = false;
    }
  }
  if (plain) return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The summary, the species table and the fit command to run next.
void print_summary(const PrepareOptions& o, const PreparedTables& tables, const char* program) {
  std::printf("Prepared %d samples x %d species from %s (%d left out) into %s\n\n", tables.values.nsamples(),
              tables.nvar, o.concentrations.c_str(), tables.values.nspecies() - tables.nvar, o.outdir.c_str());
  write_species_table(tables.species, stdout, true);
  const std::vector<std::string> paths = output_paths(o.outdir);
  std::string dir = o.outdir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  // The report goes beside the files, and the total is named by its name in the fit.
  std::string report = " --report " + shell_word(dir + "report");
  for (const Species& sp : tables.species) {
    if (sp.category == Category::total) report += " --total " + shell_word(sp.fit_name);
  }
  std::printf("\nNext, run the fit:\n  %s --accelerate --converge 1e-6 --keep-best --passes 20000%s n %s %s %s %s\n",
              shell_word(program).c_str(), report.c_str(), shell_word(paths[1]).c_str(), shell_word(paths[2]).c_str(),
              shell_word(paths[0]).c_str(), shell_word(dir + "result.tsv").c_str());
}

}  // namespace

int run_prepare(int argc, const char* const* argv, const char* program) {
  const PrepareOptions o = parse_prepare_options(argc, argv);
  if (o.help) return 0;
  install_signal_handlers();
  const std::unique_ptr<StagedFolder> staged =
      prepare_output_folder(o.outdir, o.force, {o.concentrations, o.uncertainties, o.mdl, o.profiles});
  PreparedTables tables = read_prepared_tables(o);
  settle_tables(o, tables);
  const FitFiles files = starting_files(o, tables);
  write_fit_files(o.outdir, *staged, files, tables.species, tables.values, tables.u);
  print_summary(o, tables, program);
  return 0;
}
