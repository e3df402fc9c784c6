#include "input/data_file.h"

#include "control/failure.h"
#include "input/fields.h"
#include "input/scanner.h"

namespace {

// Value headings (every other field of the heading line after its first cell)
// must match the variables in order by their first character.
void check_headings(const Model& m, const std::string& headings) {
  std::vector<std::string_view> fields = split_tabs(headings);
  for (std::size_t k = 0; k < fields.size(); k += 2) {
    std::size_t j = k / 2;
    if (j >= m.varnavn.size() || fields[k][0] != m.varnavn[j][0]) fail("Error: Mismatch of variable names!");
  }
  if ((fields.size() + 1) / 2 != static_cast<std::size_t>(m.nvar)) fail("Error: Mismatch of variable names!");
}

// Reads the title and the heading line, checks the headings and counts the records.
void read_headings(Model& m, const std::string& path) {
  Scanner in(path);
  if (in.read_until(&m.text, '\t', '\n') == 0) {
    fail("Error: %s line 1: the title cell is empty!\n", path.c_str());
  }
  if (in.skip_until('\n') > 0) in.skip_space();

  // The identifier heading is taken up to the next tab. When line 1 has no tab
  // after its title, its line end starts the heading.
  int first = in.get();
  if (first >= 0 && first != '\t') {
    m.xnavn.push_back(static_cast<char>(first));
    in.read_until(&m.xnavn, '\t');
  }
  std::string headings;
  if (in.read_until(&headings, '\n') > 0) in.skip_space();
  check_headings(m, headings);

  long count = in.count_lines();
  if (count > 0x7fffffffL) fail("Error: %s: too many records!\n", path.c_str());
  m.nrec = static_cast<int>(count);
}

void create_tables(Model& m) {
  const std::size_t cells = static_cast<std::size_t>(m.nrec) * static_cast<std::size_t>(m.nvar);
  const std::size_t xcells = static_cast<std::size_t>(m.nrec) * static_cast<std::size_t>(m.nfakt);
  auto create = [](auto& table, std::size_t n, const char* message) {
    try {
      table.assign(n, {});
    } catch (const std::exception&) {
      fail("%s", message);
    }
  };
  create(m.rawdata, cells, "No memory for rawdata. Reduce number of records.\n");
  create(m.usik, cells, "No memory for usik. Reduce number of records.\n");
  create(m.dy, cells, "No memory for dy. Reduce number of records.\n");
  create(m.x, xcells, "No memory for x. Reduce number of records.\n");
  create(m.t, static_cast<std::size_t>(m.nrec), "No memory for t. Reduce number of records.\n");
}

// Reads the records by count: an identifier cell up to the first tab, then a value
// and an uncertainty per variable separated by any white space.
void read_records(Model& m, const std::string& path) {
  Scanner in(path);
  for (int skip = 0; skip < 2; ++skip) {
    if (in.skip_until('\n') > 0) in.skip_space();
  }
  m.ids.clear();
  m.id_end.clear();
  m.id_end.reserve(static_cast<std::size_t>(m.nrec));
  std::string id;
  std::size_t cell = 0;
  float* rawdata = m.rawdata.writable();
  float* usik = m.usik.writable();
  for (int s = 0; s < m.nrec; ++s) {
    id.clear();
    in.read_until(&id, '\t');
    in.skip_space();
    // A line without a tab after its identifier runs into the next line; the
    // identifier is the part on the record's own line.
    std::size_t nl = id.rfind('\n');
    m.ids.append(nl == std::string::npos ? std::string_view(id) : std::string_view(id).substr(nl + 1));
    m.id_end.push_back(m.ids.size());
    for (int v = 0; v < m.nvar; ++v, ++cell) {
      rawdata[cell] = static_cast<float>(in.read_double(true));
      usik[cell] = static_cast<float>(in.read_double(true));
    }
  }
  m.ids.shrink_to_fit();
}

}  // namespace

void read_data(Model& m, const std::string& path) {
  read_headings(m, path);
  if (m.nrec == 0) fail("Error: %s: no data records after the heading line!\n", path.c_str());
  create_tables(m);
  read_records(m, path);
}
