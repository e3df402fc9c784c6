// Matching the names that the data and form files give their columns and rows
// against the profile's variable names.
#pragma once

#include "control/failure.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "model/problem.h"

// A name as it is compared: cut to the 19 characters a variable name keeps, ASCII
// letters in lower case.
std::string name_key(std::string_view name);

// True when `name` is variable v's name, compared by name_key.
bool names_variable(const Problem& problem, std::string_view name, int v);

// The first variable other than `expected` whose name `name` is (by name_key);
// -1 when there is none.
int other_variable(const Problem& problem, std::string_view name, int expected);

// Prints a warning line on standard error (or where set_warning_stream points);
// the run goes on.
void warn(const char* format, ...) __attribute__((format(TARNOK_PRINTF, 1, 2)));

// Sends the warnings to `stream` instead; the fuzz harness silences them.
void set_warning_stream(std::FILE* stream);
