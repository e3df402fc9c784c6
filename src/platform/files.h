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

// Creates the folder `path` and every missing folder above it; true when `path` is
// a folder afterwards (also when it was one already). On failure last_error_text()
// says why; "Not a directory" on Linux when something along the path is a file.
bool make_directories(const std::string& path);

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

// Where a file is, or would be once written: the identity of the longest part of
// its path that exists (the file itself when it exists), and the rest of the path
// with "." and ".." taken out, its separators as '/' (on Windows in upper case, as
// the file system does not tell the cases apart). Two paths with the same place
// name the same file however they are spelled, also before the file exists.
struct FilePlace {
  FileIdentity found;
  std::string rest;
  bool operator==(const FilePlace&) const = default;
};

// The place of `path`; false when not even its first folder can be found.
bool file_place(const std::string& path, FilePlace* place);
