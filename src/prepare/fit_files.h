// Writing the fit's input files and the species table into the output folder. The
// files are written into a temporary folder beside it, which takes its place once
// all four are complete: the folder holds the old files or the new ones, never a
// mixture, and a failed run leaves it as it was (or leaves none).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "formats/data_format.h"
#include "measured/measured_table.h"
#include "platform/staged_folder.h"
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

// Fails when `outdir` is not a folder, when one of the output files is already
// there and `force` is not set, or when one of them is one of the `inputs`
// (however spelled), which even --force must not replace; otherwise makes the
// temporary folder the files are written into.
std::unique_ptr<StagedFolder> prepare_output_folder(const std::string& outdir, bool force,
                                                    const std::vector<std::string>& inputs);

// Writes data.tsv from the values and uncertainties as they are to be fitted (NaN
// never appears here), profile.tsv and form.tsv, then species.tsv, into `staged`,
// and puts it in the place of `outdir`.
void write_fit_files(const std::string& outdir, StagedFolder& staged, const FitFiles& files,
                     const std::vector<Species>& species, const MeasuredTable& values,
                     const MeasuredTable& uncertainties);
