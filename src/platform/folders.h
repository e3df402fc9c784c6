// Folders as a whole: their entries, a new folder beside another, a folder removed
// with everything in it, and a folder put in the place of another. The report
// folder is built aside with these and put in place in one step.
#pragma once

#include <string>
#include <vector>

// The folder a symbolic link at `path` leads to (as a path the system resolved);
// `path` itself when it is no link (on Windows always).
std::string followed_link(const std::string& path);

// Whether `path` is a folder (a link to a folder counts).
bool is_folder(const std::string& path);

// The names of the entries of the folder `path` ("." and ".." left out), sorted.
// False when the folder cannot be read; last_error_text() says why.
bool folder_entries(const std::string& path, std::vector<std::string>* names);

// Whether entries may be added to and removed from the folder `path`.
bool folder_writable(const std::string& path);

// Creates a new, empty folder in the folder that holds `target` (which need not
// exist), named after it with an ending no other entry has; its path in *made. The
// folder gets the permissions make_directory gives. False when it cannot be
// created; last_error_text() says why.
bool make_folder_beside(const std::string& target, std::string* made);

// Gives the folder `from` the permissions of the folder `like`.
void copy_folder_permissions(const std::string& like, const std::string& from);

// Removes the folder `path` when it is empty.
bool remove_empty_folder(const std::string& path);

// Removes the folder `path` and everything in it; false when anything remained.
bool remove_tree(const std::string& path);

// Puts the folder `from` in the place of the folder `target` (both in the same
// folder). When `target` is missing, `from` is renamed. Otherwise where the system
// can exchange two names in one step (Linux) it does, and the old folder is then
// at `from`; elsewhere `target` is first renamed beside itself and `from` then
// takes its name (a crash between the two steps leaves the old folder under that
// name and `from` as it was). *old receives where the old folder is now ("" when
// there was none): the caller removes it. False when nothing was changed;
// last_error_text() says why.
bool put_folder_in_place(const std::string& from, const std::string& target, std::string* old);
