// A folder built aside and put in place in one step: the files go into a new
// temporary folder beside the target folder, which takes the target's place only
// once every file is complete. Until then the target is as it was; when the run
// ends at once (a second interrupt), the temporary folder is removed.
#pragma once

#include <string>
#include <vector>

class StagedFolder {
 public:
  // Creates the temporary folder in the folder that holds `target` (UTF-8, as
  // typed; `target` need not exist), and the folders above it that are missing.
  // Where that folder may not be written but `target` is a folder that may, the
  // temporary folder is made inside `target`. ok() tells whether that worked;
  // reason() then says why not.
  explicit StagedFolder(const std::string& target);
  // Removes the temporary folder and everything in it, and the folders above it
  // that it made, unless commit() has put it in place.
  ~StagedFolder();
  StagedFolder(const StagedFolder&) = delete;
  StagedFolder& operator=(const StagedFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& reason() const { return reason_; }
  // The temporary folder, where the files are written.
  const std::string& path() const { return path_; }

  // Puts the temporary folder in the place of the target. Entries of the old target
  // that the new folder lacks (and, in a folder both hold, its entries that the new
  // one lacks) are moved into the new folder first, so that the target ends as
  // writing the new files into it would have left it; then the new folder takes the
  // target's name in one step and the old folder is removed. Where the target is the
  // current folder, which cannot be renamed, or holds the temporary folder, its
  // entries are replaced one by one instead (each whole, but a crash part-way leaves
  // some old and some new). Interrupts wait until this is done. False, with the reason in *why, when
  // the target was left as it was.
  bool commit(std::string* why);

  // After a commit: the old folder when it could not be removed, else "".
  const std::string& left_behind() const { return left_behind_; }

 private:
  std::string target_;
  std::string path_;
  std::string reason_;
  std::string left_behind_;
  std::vector<std::string> made_;  // the folders above the target it made, innermost first
  bool inside_ = false;            // the temporary folder is inside the target
  bool committed_ = false;
};
