// Uncertainties from detection limits: per species a method detection limit (MDL)
// and an error fraction.
#pragma once

#include <string>
#include <vector>

struct DetectionLimit {
  double mdl = 0.0;       ///< method detection limit, in the units of the values
  double fraction = 0.0;  ///< relative error of a value above the limit
};

// 5/6 x MDL for a value at or below the limit, otherwise
// sqrt((fraction x value)^2 + (0.5 x MDL)^2); rounded to float where stored.
float mdl_uncertainty(float value, const DetectionLimit& limit);

// Reads the detection-limit table at `path` (name, detection limit, error fraction
// per row; a first row whose second cell is not a number is a heading) and returns
// the limits of `species` in their order. Fails on a species missing from the
// table (listing them all), a limit that is not above zero, or a fraction below zero.
std::vector<DetectionLimit> read_detection_limits(const std::string& path, char delimiter,
                                                  const std::vector<std::string>& species);
