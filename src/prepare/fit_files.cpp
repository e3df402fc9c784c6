#include "prepare/fit_files.h"

#include <cstdio>

#include "control/failure.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/profile_format.h"
#include "formats/whole_file.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace {

constexpr std::size_t kFlushAt = 1 << 20;

void flush(std::string& text, ResultFile& file) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), file.stream());
  text.clear();
}

// The names the species in the fit have in the fit's files.
std::vector<std::string> fit_names(const std::vector<const Species*>& in_fit) {
  std::vector<std::string> names;
  for (const Species* s : in_fit) names.push_back(s->fit_name);
  return names;
}

std::vector<const Species*> fitted(const std::vector<Species>& species) {
  std::vector<const Species*> in_fit;
  for (const Species& s : species) {
    if (s.category != Category::bad) in_fit.push_back(&s);
  }
  return in_fit;
}

void write_data(const std::string& path, const std::string& shown_as, const FitFiles& files,
                const std::vector<const Species*>& in_fit, const MeasuredTable& values,
                const MeasuredTable& uncertainties) {
  ResultFile file(path, shown_as);
  std::vector<int> columns;
  for (const Species* s : in_fit) columns.push_back(s->column);
  std::string text = data_heading_text(files.title, values.id_heading, fit_names(in_fit));
  for (int r = 0; r < values.nsamples(); ++r) {
    append_data_record(text, values.id(r), values.row(r), uncertainties.row(r), columns);
    if (text.size() >= kFlushAt) flush(text, file);
  }
  flush(text, file);
  file.commit();
}

}  // namespace

std::vector<std::string> output_paths(const std::string& outdir) {
  std::string base = outdir;
  if (!base.empty() && base.back() != '/') base += '/';
  return {base + "data.tsv", base + "profile.tsv", base + "form.tsv", base + "species.tsv"};
}

std::unique_ptr<StagedFolder> prepare_output_folder(const std::string& outdir, bool force,
                                                    const std::vector<std::string>& inputs) {
  FileIdentity folder;
  if (file_identity(outdir, &folder) && !is_folder(outdir) && !make_directories(outdir)) {
    fail("Error: Can't create the folder %s: %s!\n", outdir.c_str(), last_error_text().c_str());
  }
  for (const std::string& path : output_paths(outdir)) {
    FileIdentity there;
    if (!file_identity(path, &there)) continue;
    for (const std::string& input : inputs) {
      FileIdentity in;
      if (!input.empty() && file_identity(input, &in) && in == there) {
        fail("Error: %s is the input file %s; prepare never overwrites its input!\n", path.c_str(), input.c_str());
      }
    }
    if (!force) fail("Error: %s already exists; prepare replaces files only with --force!\n", path.c_str());
  }
  auto staged = std::make_unique<StagedFolder>(outdir);
  if (!staged->ok()) fail("Error: Can't create the folder %s: %s!\n", outdir.c_str(), staged->reason().c_str());
  return staged;
}

void write_fit_files(const std::string& outdir, StagedFolder& staged, const FitFiles& files,
                     const std::vector<Species>& species, const MeasuredTable& values,
                     const MeasuredTable& uncertainties) {
  const std::vector<std::string> paths = output_paths(outdir);
  const std::vector<std::string> staged_paths = output_paths(staged.path());
  const std::vector<const Species*> in_fit = fitted(species);
  write_data(staged_paths[0], paths[0], files, in_fit, values, uncertainties);
  write_whole_file(staged_paths[1], profile_text(files.factors, fit_names(in_fit), files.p), paths[1]);
  write_whole_file(staged_paths[2], form_text(files.factors, fit_names(in_fit), files.fp), paths[2]);
  ResultFile table(staged_paths[3], paths[3]);
  write_species_table(species, table.stream(), false);
  table.commit();
  std::string why;
  if (!staged.commit(&why)) {
    fail("Error: Can't put the new files in the folder %s (%s)! %s\n", outdir.c_str(), why.c_str(), kResultUnchanged);
  }
  if (!staged.left_behind().empty()) {
    std::fprintf(stderr, "tarnok: the old folder, now %s, could not be removed.\n", staged.left_behind().c_str());
  }
}
