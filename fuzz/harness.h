// One fuzzed input through one part of the program. Each input reader (profile,
// form, data) takes the input as its file, after a fixed profile where it needs
// one; the whole run splits the input into the three files and runs every phase
// with two passes, writing a real result file. A rejected input (a Failure) is an
// ordinary outcome; anything else (a crash, a sanitizer report, a leak, a file
// descriptor left open) is a fault. The measured-table reader of `tarnok prepare`
// takes the input after a first byte that picks the delimiter (bits 0-1: detect,
// comma, semicolon, tab); when the rest holds a kFileSeparator, the part before it
// is the values' table and the part after it their uncertainties.
#pragma once

#include <cstddef>
#include <cstdint>

enum class FuzzTarget { profile, form, data, run, measured };

// Separates the profile, form and data files inside one whole-run input; the first
// byte before them picks the mode (odd: offset), whether a rotate strength of
// 0.5 is given (bit 1) and whether the fit is robust with alpha 2 (bit 2).
constexpr char kFileSeparator = '\x1e';

void fuzz_one(FuzzTarget target, const std::uint8_t* data, std::size_t size);
