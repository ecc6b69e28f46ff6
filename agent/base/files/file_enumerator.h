#ifndef AGENT_BASE_FILES_FILE_ENUMERATOR_H_
#define AGENT_BASE_FILES_FILE_ENUMERATOR_H_

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "agent/base/containers/circular_deque.h"
#include "agent/base/files/file.h"
#include "agent/base/files/file_path.h"

namespace kelmbase {

// Walks the entries of a directory, optionally descending depth-first into
// its subdirectories. The order within one directory is the order readdir
// gives, which is unspecified. Used by one thread at a time.
class FileEnumerator {
 public:
  // What one entry was when it was read.
  class FileInfo {
   public:
    FileInfo();

    bool IsDirectory() const;
    // The entry's name within its directory, not the full path.
    const FilePath& GetName() const { return filename_; }
    // The entry's stat record (all zero if stat failed).
    const stat_wrapper_t& stat() const { return stat_; }

   private:
    friend class FileEnumerator;

    stat_wrapper_t stat_;
    FilePath filename_;
  };

  // Bit mask of what to report.
  enum FileType {
    kFiles = 1 << 0,
    kDirectories = 1 << 1,
    // Report ".." entries as well.
    kIncludeDotDot = 1 << 2,
    // Report symbolic links as themselves instead of what they point to,
    // and never descend through them.
    kShowSymLinks = 1 << 4,
  };

  // Where the pattern applies when recursing.
  enum FolderSearchPolicy {
    // Only entries whose names match are reported or descended into at the
    // top level; deeper levels are not filtered.
    kMatchOnly = 0,
    // Every subdirectory is descended into; the pattern filters what is
    // reported at the top level.
    kAll = 1,
  };

  enum ErrorPolicy {
    // Skip directories that cannot be read.
    kIgnoreErrors = 0,
    // End the walk at the first directory that cannot be read and keep the
    // error (GetError).
    kStopEnumeration = 1,
  };

  // `file_type` is a mask of FileType bits. The pattern, when not empty, is
  // an fnmatch pattern for entry names (no backslash escapes).
  FileEnumerator(const FilePath& root_path, bool recursive, int file_type);
  FileEnumerator(const FilePath& root_path, bool recursive, int file_type,
                 const std::string& pattern,
                 FolderSearchPolicy folder_search_policy,
                 ErrorPolicy error_policy);
  FileEnumerator(const FileEnumerator&) = delete;
  FileEnumerator& operator=(const FileEnumerator&) = delete;
  ~FileEnumerator();

  // The full path of the next entry, or the empty path when the walk is done.
  FilePath Next();

  // The entry that Next last returned (a default FileInfo if none).
  FileInfo GetInfo() const;

  // The error that ended the walk under kStopEnumeration, else kErrorOk.
  File::Error GetError() const { return error_; }

  // Whether the entry `name` is left out of the walk: "." always, ".."
  // unless kIncludeDotDot is set.
  bool ShouldSkip(const FilePath& name) const;

  // Whether the entry `name` matches the pattern (an empty pattern matches
  // everything).
  bool IsPatternMatched(const FilePath& name) const;

  // lstat when `show_links`, else stat; a zeroed record on failure.
  static void GetStat(const FilePath& path, bool show_links,
                      stat_wrapper_t* st);

 private:
  bool IsTypeMatched(bool is_dir) const;

  std::vector<FileInfo> directory_entries_;
  size_t current_directory_entry_ = 0;
  std::unordered_set<ino_t> visited_directories_;
  FilePath root_path_;
  const bool recursive_;
  const int file_type_;
  std::string pattern_;
  const FolderSearchPolicy folder_search_policy_;
  const ErrorPolicy error_policy_;
  File::Error error_ = File::kErrorOk;
  // Directories still to be read; the newest is read next.
  CircularDeque<FilePath> pending_paths_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_FILES_FILE_ENUMERATOR_H_
