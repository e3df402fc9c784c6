// Checks of a problem as read, before any fit of it: the console's fit command and
// the Python package make them alike, with the same messages. `data` is the data
// file as the messages name it.
#pragma once

#include <string>

#include "model/fit_state.h"
#include "model/problem.h"

// Fails when there are fewer records than factors: every variable's profile
// elements and its regression on the contributions would be undetermined
// (negative degrees of freedom, standard errors that are not numbers).
void refuse_fewer_records_than_factors(const Problem& problem, const std::string& data);

// Fails when a bootstrap block (--block) is longer than the records.
void refuse_block_above_records(long block, const Problem& problem, const std::string& data);

// The warning for records with nothing measured (every uncertainty 0 or less),
// naming the first: they are fitted with contributions 0 and hold no residue.
// Empty when every record has something measured. Ends with a newline.
std::string unmeasured_records_warning(const Problem& problem, const std::string& data);

// The tables of a fit of `problem`, or the console's failure when they do not fit
// in memory (naming the table, and what to reduce).
FitState allocate_state(const Problem& problem);
