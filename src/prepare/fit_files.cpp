#include "prepare/fit_files.h"

#include <charconv>
#include <cstdio>

#include "control/failure.h"
#include "output/whole_file.h"
#include "platform/files.h"

namespace {

constexpr std::size_t kFlushAt = 1 << 20;

void flush(std::string& text, ResultFile& file) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), file.stream());
  text.clear();
}

void append_double(std::string& out, double value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, end);
}

std::vector<const Species*> fitted(const std::vector<Species>& species) {
  std::vector<const Species*> in_fit;
  for (const Species& s : species) {
    if (s.category != Category::bad) in_fit.push_back(&s);
  }
  return in_fit;
}

void write_data(const std::string& path, const FitFiles& files, const std::vector<const Species*>& in_fit,
                const MeasuredTable& values, const MeasuredTable& uncertainties) {
  ResultFile file(path);
  std::string text = files.title + "\t\n";
  // The identifier heading as read; tabs and line ends inside it (a quoted cell)
  // would break the fit's heading line.
  std::string heading = values.id_heading.empty() ? std::string("Sample") : values.id_heading;
  for (char& c : heading) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  text += heading;
  for (const Species* s : in_fit) text += "\t" + s->fit_name + "\tu(" + s->fit_name + ")";
  text += '\n';
  for (int r = 0; r < values.nsamples(); ++r) {
    text.append(values.id(r));
    const float* x = values.row(r);
    const float* u = uncertainties.row(r);
    for (const Species* s : in_fit) {
      text += '\t';
      append_float(text, x[s->column]);
      text += '\t';
      append_float(text, u[s->column]);
    }
    text += '\n';
    if (text.size() >= kFlushAt) flush(text, file);
  }
  flush(text, file);
  file.commit();
}

void write_matrix(const std::string& path, const FitFiles& files, const std::vector<const Species*>& in_fit,
                  bool form) {
  ResultFile file(path);
  std::string text;
  for (const std::string& name : files.factors) text += "\t" + name;
  text += '\n';
  const std::size_t k = files.factors.size();
  for (std::size_t v = 0; v < in_fit.size(); ++v) {
    text += in_fit[v]->fit_name;
    for (std::size_t f = 0; f < k; ++f) {
      text += '\t';
      if (form) {
        text += files.fp[v * k + f] != 0 ? '1' : '0';
      } else {
        append_double(text, files.p[v * k + f]);
      }
    }
    text += '\n';
  }
  flush(text, file);
  file.commit();
}

}  // namespace

void append_float(std::string& out, float value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  double back = 0.0;
  std::from_chars(buf, end, back);
  if (static_cast<float>(back) != value) {
    // The decimal lies so near the midpoint of two floats that reading it through a
    // double would round the other way: write the float's exact double instead.
    end = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value)).ptr;
  }
  out.append(buf, end);
}

std::vector<std::string> output_paths(const std::string& outdir) {
  std::string base = outdir;
  if (!base.empty() && base.back() != '/') base += '/';
  return {base + "data.tsv", base + "profile.tsv", base + "form.tsv", base + "species.tsv"};
}

void prepare_output_folder(const std::string& outdir, bool force, const std::vector<std::string>& inputs) {
  if (!make_directories(outdir)) {
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
}

void write_fit_files(const std::string& outdir, const FitFiles& files, const std::vector<Species>& species,
                     const MeasuredTable& values, const MeasuredTable& uncertainties) {
  const std::vector<std::string> paths = output_paths(outdir);
  const std::vector<const Species*> in_fit = fitted(species);
  write_data(paths[0], files, in_fit, values, uncertainties);
  write_matrix(paths[1], files, in_fit, false);
  write_matrix(paths[2], files, in_fit, true);
  ResultFile table(paths[3]);
  write_species_table(species, table.stream(), false);
  table.commit();
}
