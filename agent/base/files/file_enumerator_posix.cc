#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <utility>

#include "agent/base/files/file_enumerator.h"
#include "agent/base/location.h"
#include "agent/base/threading/scoped_blocking_call.h"

namespace kelmbase {

// static
void FileEnumerator::GetStat(const FilePath& path, bool show_links,
                             stat_wrapper_t* st) {
  int result = show_links ? File::Lstat(path.value().c_str(), st)
                          : File::Stat(path.value().c_str(), st);
  if (result != 0) memset(st, 0, sizeof(*st));
}

FilePath FileEnumerator::Next() {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);

  ++current_directory_entry_;
  while (current_directory_entry_ >= directory_entries_.size()) {
    if (pending_paths_.empty()) return FilePath();

    root_path_ = pending_paths_.back().StripTrailingSeparators();
    pending_paths_.pop_back();

    DIR* dir = opendir(root_path_.value().c_str());
    if (dir == nullptr) {
      if (error_policy_ == ErrorPolicy::kIgnoreErrors) continue;
      error_ = File::ErrorFromErrno(errno);
      return FilePath();
    }

    directory_entries_.clear();
    current_directory_entry_ = 0;
    const bool show_links = (file_type_ & kShowSymLinks) != 0;
    while (true) {
      errno = 0;
      const struct dirent* dent = readdir(dir);
      if (dent == nullptr) break;

      FileInfo info;
      info.filename_ = FilePath(dent->d_name);
      if (ShouldSkip(info.filename_)) continue;

      const bool is_pattern_matched = IsPatternMatched(info.filename_);
      // A directory whose name does not match is still walked when
      // recursing under kAll, but not reported.
      if (folder_search_policy_ != FolderSearchPolicy::kAll &&
          !is_pattern_matched) {
        continue;
      }
      if (!recursive_ && !is_pattern_matched) continue;

      FilePath full_path = root_path_.Append(info.filename_);
      GetStat(full_path, show_links, &info.stat_);

      const bool is_dir = info.IsDirectory();
      if (recursive_ && is_dir &&
          (show_links ||
           visited_directories_.insert(info.stat_.st_ino).second)) {
        pending_paths_.push_back(std::move(full_path));
      }
      if (is_pattern_matched && IsTypeMatched(is_dir)) {
        directory_entries_.push_back(std::move(info));
      }
    }
    const int readdir_errno = errno;
    closedir(dir);
    if (readdir_errno != 0 &&
        error_policy_ == ErrorPolicy::kStopEnumeration) {
      error_ = File::ErrorFromErrno(readdir_errno);
      return FilePath();
    }

    // Under kMatchOnly the pattern filters only the root's own entries.
    if (folder_search_policy_ == FolderSearchPolicy::kMatchOnly) {
      pattern_.clear();
    }
  }

  return root_path_.Append(
      directory_entries_[current_directory_entry_].filename_);
}

}  // namespace kelmbase
