// Missing-value markers that a laboratory writes but the reader does not know:
// refused unless the analyst names them, so that none is read as a measurement.
#pragma once

#include <string_view>
#include <vector>

#include "measured/measured_table.h"

// A text a laboratory writes for a value it did not report (BDL, <MDL, n.d., N/A,
// a dash ...) that is not one of the built-in markers: such a cell is refused
// unless the marker is named, so that the analyst decides what it means.
bool looks_like_marker(std::string_view cell);

// Fails when a species (one of `columns`) holds the same value at or below -9 in
// more than one cell: such a value is a missing-value marker (-99, -9999), which
// would otherwise be fitted as a measurement. The message names the value, the
// species, how many cells hold it and the first line.
void check_marker_values(const MeasuredTable& t, const std::vector<int>& columns);
