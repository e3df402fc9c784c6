// Files by name on every system the program runs on. Names are UTF-8 text as the
// user typed them (on Windows they are converted for the wide-character calls, so
// a folder named "Müller" works); files are opened in binary mode, so a line end
// is written as LF everywhere.
#pragma once

#include <cstdio>
#include <string>

// Opens a file by its name with a mode as for std::fopen ("rb", "wb", ...; a "b" is
// added where it is missing). Null when it cannot be opened.
std::FILE* open_file(const std::string& path, const char* mode);

// Puts the complete file `from` in the place of `target` in one step: a reader sees
// either the old target or the new file, never a mixture. False on failure; the
// target is then unchanged and last_error_text() says why.
bool replace_file(const std::string& from, const std::string& target);

// Removes a file; false when it could not be removed.
bool remove_file(const std::string& path);

// Creates the folder `path` (its parent must exist); true also when it is a folder
// already.
bool make_directory(const std::string& path);

// The reason for the last failed call of this interface, as the system words it.
std::string last_error_text();

// What identifies a file, however its path is spelled (a link, another case of the
// letters on Windows, other separators).
struct FileIdentity {
  unsigned long long volume = 0;
  unsigned long long index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file or folder at `path`; false when there is none.
bool file_identity(const std::string& path, FileIdentity* id);
