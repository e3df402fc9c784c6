// How each system spells paths, for the platform's own use: which characters
// separate folders and which names are the same name.
#pragma once

#include <string>

// '/' everywhere; on Windows '\' too.
bool is_separator(char c);

// A name as the file system compares it: as it is on POSIX systems; in upper case
// on Windows.
std::string name_as_compared(const std::string& name);
