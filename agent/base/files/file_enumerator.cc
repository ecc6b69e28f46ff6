#include "agent/base/files/file_enumerator.h"

#include <fnmatch.h>
#include <string.h>
#include <sys/stat.h>

namespace kelmbase {

FileEnumerator::FileInfo::FileInfo() { memset(&stat_, 0, sizeof(stat_)); }

bool FileEnumerator::FileInfo::IsDirectory() const {
  return S_ISDIR(stat_.st_mode);
}

FileEnumerator::FileEnumerator(const FilePath& root_path, bool recursive,
                               int file_type)
    : FileEnumerator(root_path, recursive, file_type, std::string(),
                     FolderSearchPolicy::kMatchOnly,
                     ErrorPolicy::kIgnoreErrors) {}

FileEnumerator::FileEnumerator(const FilePath& root_path, bool recursive,
                               int file_type, const std::string& pattern,
                               FolderSearchPolicy folder_search_policy,
                               ErrorPolicy error_policy)
    : root_path_(root_path),
      recursive_(recursive),
      file_type_(file_type),
      pattern_(pattern),
      folder_search_policy_(folder_search_policy),
      error_policy_(error_policy) {
  visited_directories_.max_load_factor(1.0f);
  // Following symbolic links may lead back to a directory already walked;
  // remembering the root's inode stops such a cycle at the start.
  if (recursive_ && !(file_type_ & kShowSymLinks)) {
    stat_wrapper_t st;
    GetStat(root_path_, false, &st);
    visited_directories_.insert(st.st_ino);
  }
  pending_paths_.push_back(root_path_);
}

FileEnumerator::~FileEnumerator() = default;

FileEnumerator::FileInfo FileEnumerator::GetInfo() const {
  if (current_directory_entry_ >= directory_entries_.size()) return FileInfo();
  return directory_entries_[current_directory_entry_];
}

bool FileEnumerator::ShouldSkip(const FilePath& path) const {
  const std::string& name = path.value();
  if (name == FilePath::kCurrentDirectory) return true;
  return name == FilePath::kParentDirectory && !(file_type_ & kIncludeDotDot);
}

bool FileEnumerator::IsPatternMatched(const FilePath& path) const {
  return pattern_.empty() ||
         fnmatch(pattern_.c_str(), path.value().c_str(), FNM_NOESCAPE) == 0;
}

bool FileEnumerator::IsTypeMatched(bool is_dir) const {
  return (file_type_ & (is_dir ? kDirectories : kFiles)) != 0;
}

}  // namespace kelmbase
