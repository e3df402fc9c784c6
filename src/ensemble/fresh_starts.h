// Fresh starts: each start a new starting model built from the data file with its
// own seed, by the construction `prepare` uses, so that the start with seed S is
// the profile file `prepare --seed S` writes for the same data.
#pragma once

#include <cstdint>
#include <vector>

#include "ensemble/starts.h"
#include "model/problem.h"

// The starting profiles of seed `seed`, nvar x nfakt: built from the problem's
// data (the samples and the construction prepare uses), rounded as prepare
// rounds them; held elements (fp 0) keep the problem's starting profiles.
std::vector<double> fresh_profiles(const Problem& problem, std::uint64_t seed);

// The profiles of fresh start i: fresh_profiles with seed `seed` + i.
StartProfiles fresh_starts(const Problem& problem, std::uint64_t seed);
