#include "support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

// Paths are UTF-8 text, as the program takes them, on every system.
std::filesystem::path fs_path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8_of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

TempDir::TempDir() : path_(make_temp_dir()) {}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only folders made by a test must not keep their contents alive.
  for (auto& entry : std::filesystem::recursive_directory_iterator(fs_path(path_), ec)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(fs_path(path_), ec);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
  std::string p = file(name);
  std::ofstream(fs_path(p), std::ios::binary) << content;
  return p;
}

std::string read_file(const std::string& path) {
  std::ifstream in(fs_path(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) { return std::filesystem::exists(fs_path(path)); }

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(fs_path(path))) names.push_back(utf8_of(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::vector<std::string> cells_of(const std::string& line) {
  std::vector<std::string> cells;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    cells.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return cells;
}

TestModel make_model(int nfakt, int nvar, int nrec) {
  TestModel m;
  m.nfakt = nfakt;
  m.nvar = nvar;
  m.nrec = nrec;
  auto F = static_cast<std::size_t>(nfakt);
  auto V = static_cast<std::size_t>(nvar);
  auto S = static_cast<std::size_t>(nrec);
  for (int f = 0; f < nfakt; ++f) m.faktnavn.push_back(std::string(1, 'F').append(std::to_string(f)));
  for (int v = 0; v < nvar; ++v) m.varnavn.push_back(std::string(1, 'V').append(std::to_string(v)));
  m.text = "title";
  m.xnavn = "id";
  for (int s = 0; s < nrec; ++s) {
    m.ids += 'r';
    m.ids += std::to_string(s);
    m.id_end.push_back(m.ids.size());
  }
  m.starting_p.assign(V * F, 0.0);
  m.p.assign(V * F, 0.0);
  m.fp.assign(V * F, 0);
  m.rawdata.assign(S * V, 0.0f);
  m.usik.assign(S * V, 0.0f);
  m.dy.assign(S * V, 0.0f);
  m.x.assign(S * F, 0.0);
  m.t.assign(S, 0.0);
  m.r.assign(V, 0.0f);
  m.ny.assign(V, 0);
  m.sum2.assign(F, 0.0);
  return m;
}
