// Writing the fit's input files and the species table into the output folder. Each
// file is written to a temporary file beside it and renamed when complete.
#pragma once

#include <string>
#include <vector>

#include "formats/data_format.h"
#include "measured/measured_table.h"
#include "prepare/species_table.h"

// The data, profile and form files a fit reads, and the species table.
struct FitFiles {
  std::string title;                    ///< line 1 of the data file
  std::vector<std::string> factors;     ///< factor names
  std::vector<double> p;                ///< nvar x nfakt starting profiles of the species in the fit
  std::vector<int> fp;                  ///< nvar x nfakt: nonzero frees the element
};

// The four output paths in `outdir`, in the order they are written.
std::vector<std::string> output_paths(const std::string& outdir);

// Creates `outdir` when missing; fails when it is not a folder, when one of the
// output files is already there and `force` is not set, or when one of them is one
// of the `inputs` (however spelled), which even --force must not replace.
void prepare_output_folder(const std::string& outdir, bool force, const std::vector<std::string>& inputs);

// Writes data.tsv from the values and uncertainties as they are to be fitted (NaN
// never appears here), profile.tsv and form.tsv, then species.tsv.
void write_fit_files(const std::string& outdir, const FitFiles& files, const std::vector<Species>& species,
                     const MeasuredTable& values, const MeasuredTable& uncertainties);
