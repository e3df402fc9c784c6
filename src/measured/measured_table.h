// A measured table as analysts hold it: a heading row (the sample-identifier
// heading, then one species name per column), then one row per sample with its
// identifier and one value per species. Values are held as float, as the fit holds
// them; a missing value is held as NaN.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Texts that mark a missing value besides an empty cell: NA, NaN, ND (in any case),
// the number -999 and any extra markers the user names. A named marker that is a
// number also marks every cell holding the same number (-99 and -99.0 alike).
struct MissingMarkers {
  std::vector<std::string> extra;  ///< exact texts, compared after trimming spaces
  bool marks_missing(std::string_view cell) const;
};

struct MeasuredTable {
  std::string path;                   ///< the file as typed, for messages
  char delimiter = '\0';              ///< the delimiter used (detected or forced)
  long heading_line = 0;              ///< 1-based line of the heading row
  std::string id_heading;             ///< heading of the identifier column
  std::vector<std::string> species;   ///< full species names in column order
  std::vector<std::string> units;     ///< per species, the unit its heading gives ("" when none)
  std::vector<long> species_column;   ///< 1-based column of each species
  std::string ids;                    ///< sample identifiers back to back
  std::vector<std::uint64_t> id_end;  ///< nsamples: identifier s is ids[id_end[s-1] .. id_end[s])
  std::vector<long> lines;            ///< nsamples: 1-based line of each sample
  /// Values, one row of nspecies per sample (NaN: missing), in blocks of block_rows
  /// rows (about 1 MB), so that a growing table never holds two copies of itself.
  std::vector<std::vector<float>> blocks;
  std::size_t block_rows = 1;

  int nspecies() const { return static_cast<int>(species.size()); }
  int nsamples() const { return static_cast<int>(id_end.size()); }
  const float* row(int s) const {
    const std::size_t k = static_cast<std::size_t>(s);
    return blocks[k / block_rows].data() + (k % block_rows) * species.size();
  }
  float* row(int s) {
    const std::size_t k = static_cast<std::size_t>(s);
    return blocks[k / block_rows].data() + (k % block_rows) * species.size();
  }
  std::string_view id(int s) const {
    std::uint64_t begin = s == 0 ? 0 : id_end[static_cast<std::size_t>(s) - 1];
    return std::string_view(ids).substr(begin, id_end[static_cast<std::size_t>(s)] - begin);
  }
};

// Reads the table at `path`. `delimiter` '\0' detects it from the heading row.
// Rows whose cells are all empty are skipped (spreadsheets write them at the end),
// and so are empty cells beyond the last heading. When `pattern` is given (the
// values' table, when reading its uncertainties), the species must be the same
// (in any order: see match_species_order) and the sample identifiers the same, in
// the same order; any difference fails with a message naming both files, the line
// and the column. The identifiers are then not kept. Fails, naming the file, line,
// species and cell, on a cell that is neither a number nor a missing-value marker;
// a marker text it does not know (looks_like_marker) fails after the whole table
// is read, with the count of that species' cells holding it. A named marker that
// is a number marks every cell of that number.
MeasuredTable read_measured(const std::string& path, char delimiter, const MissingMarkers& missing,
                            const MeasuredTable* pattern = nullptr);

// The samples in the same order as `pattern`'s species: true and reordered when
// the two hold the same species in another order, false (untouched) otherwise.
bool match_species_order(MeasuredTable& t, const MeasuredTable& pattern);

// Drops the samples whose `drop` entry is nonzero (nsamples entries).
void drop_samples(MeasuredTable& t, const std::vector<char>& drop);

// The check read_measured makes against a pattern, for a table read without one:
// the same species and samples in the same order, or the same message.
void check_same_shape(const MeasuredTable& t, const MeasuredTable& pattern);

// Parses a measured number as the fit reads one: the decimal text to double, then
// rounded to float. A leading '+' is allowed, and with a semicolon delimiter a
// decimal comma. False when the cell is not a finite number within float range.
bool parse_measured(std::string_view cell, char delimiter, float* value);

// The cell without the spaces and tabs around it.
std::string_view trim(std::string_view cell);

// Whether `cell` spells `word` (given in capitals), letters a-z taken as A-Z.
bool same_letters(std::string_view cell, std::string_view word);
