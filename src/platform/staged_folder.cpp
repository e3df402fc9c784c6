#include "platform/staged_folder.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_names.h"
#include "platform/signals.h"

namespace {

std::string in_folder(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The moves made so far, undone in reverse order when a later step fails.
class Moves {
 public:
  bool move(const std::string& from, const std::string& to) {
    if (!replace_file(from, to)) return false;
    done_.emplace_back(from, to);
    return true;
  }
  void undo() {
    for (auto it = done_.rbegin(); it != done_.rend(); ++it) replace_file(it->second, it->first);
    done_.clear();
  }

 private:
  std::vector<std::pair<std::string, std::string>> done_;
};

// Moves the entries of `old_folder` that `new_folder` lacks into it; one level down
// for a folder that both hold.
bool carry_over(const std::string& old_folder, const std::string& new_folder, int depth, Moves& moves) {
  std::vector<std::string> old_names, new_names;
  if (!folder_entries(old_folder, &old_names) || !folder_entries(new_folder, &new_names)) return false;
  for (const std::string& name : old_names) {
    const std::string from = in_folder(old_folder, name), to = in_folder(new_folder, name);
    if (!std::binary_search(new_names.begin(), new_names.end(), name)) {
      if (!moves.move(from, to)) return false;
    } else if (depth > 0 && is_folder(from) && is_folder(to) && !carry_over(from, to, depth - 1, moves)) {
      return false;
    }
  }
  return true;
}

// Whether `path` is the current folder, which cannot take another folder's place.
bool is_current_folder(const std::string& path) {
  FileIdentity here, there;
  return file_identity(".", &here) && file_identity(path, &there) && here == there;
}

// The folder that holds `path`: "" for a path without a separator (the current
// folder), and "" too for a root.
std::string parent_of(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && is_separator(path[end - 1])) --end;
  while (end > 0 && !is_separator(path[end - 1])) --end;
  while (end > 1 && is_separator(path[end - 1])) --end;
  return end == 0 || (end == 1 && is_separator(path[0])) ? "" : path.substr(0, end);
}

}  // namespace

// A link to a folder is followed: the folder it leads to is replaced, the link kept.
StagedFolder::StagedFolder(const std::string& target) : target_(followed_link(target)) {
  // The folders above the target that are missing, innermost first.
  FileIdentity id;
  for (std::string up = parent_of(target_); !up.empty() && !file_identity(up, &id); up = parent_of(up)) {
    made_.push_back(up);
  }
  if (!made_.empty() && !make_directories(made_.front())) {
    reason_ = last_error_text();
    made_.clear();
    return;
  }
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) register_made_folder(it->c_str());
  if (!make_folder_beside(target_, &path_)) {
    reason_ = last_error_text();
    path_.clear();
    inside_ = is_folder(target_) && folder_writable(target_) && make_folder_beside(in_folder(target_, ".tarnok"), &path_);
    if (!inside_) {
      path_.clear();
      return;
    }
  }
  reason_.clear();
  register_temp_folder(path_.c_str());
}

StagedFolder::~StagedFolder() {
  if (committed_) return;
  if (!path_.empty()) {
    register_temp_folder(nullptr);
    remove_tree(path_);
  }
  forget_made_folders();
  for (const std::string& folder : made_) remove_empty_folder(folder);
}

bool StagedFolder::commit(std::string* why) {
  hold_interrupts();
  Moves moves;
  bool ok = true;
  if (inside_ || is_current_folder(target_)) {
    // One entry after another: a file replaces its namesake in one step, a folder
    // as the whole folder does below.
    std::vector<std::string> names;
    ok = folder_entries(path_, &names);
    for (const std::string& name : names) {
      if (!ok) break;
      const std::string from = in_folder(path_, name), to = in_folder(target_, name);
      if (is_folder(from) && is_folder(to)) {
        std::string old;
        ok = carry_over(to, from, 0, moves) && put_folder_in_place(from, to, &old);
        if (ok && !old.empty() && !remove_tree(old)) left_behind_ = old;
      } else {
        ok = moves.move(from, to);
      }
    }
    if (ok) remove_tree(path_);
  } else {
    copy_folder_permissions(target_, path_);
    std::string old;
    ok = (!is_folder(target_) || carry_over(target_, path_, 1, moves)) && put_folder_in_place(path_, target_, &old);
    if (ok && !old.empty() && !remove_tree(old)) left_behind_ = old;
  }
  if (!ok) {
    *why = last_error_text();
    moves.undo();
  } else {
    committed_ = true;
    forget_made_folders();
  }
  register_temp_folder(committed_ ? nullptr : path_.c_str());
  release_interrupts();
  return ok;
}
