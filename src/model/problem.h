// The problem of one run: what the three input files give and the command line's
// mode. Filled by the readers, then only read: every fit of a run (the fit, its
// starts, the bootstrap replicates' own problems) shares it.
//
// Glossary of the domain names (shape; unit):
//   nfakt     number of factors, the sources (scalar; count)
//   nvar      number of variables, the measured species (scalar; count)
//   nrec      number of records, the samples (scalar; count)
//   faktnavn  factor names, from the profile header (nfakt; text)
//   varnavn   variable names, cut to 19 characters (nvar; text)
//   xnavn     heading of the record-identifier column (text)
//   rawdata   measured values (nrec x nvar; the data file's unit, e.g. ug/m3)
//   usik      uncertainties of the measured values (nrec x nvar; as rawdata)
//   fp        form: free (nonzero) or held (0) profile elements (nvar x nfakt; flag)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Problem {
  // Dimensions, fixed once the input files have been read.
  int nfakt = 0;   ///< number of factors (sources)
  int nvar = 0;    ///< number of variables
  int nrec = 0;    ///< number of data records (samples)
  int offset = 0;  ///< 1 in offset mode: factor 0 has contribution 1.0 in every record

  // Names and texts.
  std::vector<std::string> faktnavn;  ///< factor names in profile-header order
  std::vector<std::string> varnavn;   ///< variable names, each cut to 19 characters
  std::string text;                   ///< the data file's title
  std::string xnavn;                  ///< heading of the record-identifier column (may be empty)
  std::string ids;                    ///< record identifiers back to back
  std::vector<std::uint64_t> id_end;  ///< nrec, or empty: identifier s is ids[id_end[s-1] .. id_end[s])

  // Tables read from the input files.
  std::vector<double> starting_p;  ///< the profiles a fit starts from, nvar x nfakt, [v * nfakt + f]
  std::vector<int> fp;             ///< form, nvar x nfakt; nonzero marks element [v * nfakt + f] free
  std::vector<float> rawdata;      ///< measured values, nrec x nvar
  std::vector<float> usik;         ///< uncertainties, nrec x nvar; <= 0 marks a missing value
  std::vector<int> copy_of;        ///< nrec or empty: a record that repeats an earlier one (a bootstrap
                                   ///< replicate) names it, any other names itself; the contribution
                                   ///< step solves a repeated record once when the values are the same

  // Identifier of record s as read from the data file.
  std::string_view id(int s) const {
    std::uint64_t begin = s == 0 ? 0 : id_end[static_cast<std::size_t>(s) - 1];
    return std::string_view(ids).substr(begin, id_end[static_cast<std::size_t>(s)] - begin);
  }

  // True when every table has the size the dimensions give.
  bool consistent() const;
};
