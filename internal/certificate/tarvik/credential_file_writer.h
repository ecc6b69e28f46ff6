#ifndef INTERNAL_CERTIFICATE_TARVIK_CREDENTIAL_FILE_WRITER_H_
#define INTERNAL_CERTIFICATE_TARVIK_CREDENTIAL_FILE_WRITER_H_

// Writing, replacing and removing the credential files so that no failure
// and no kill loses a working pair or leaves a torn file or a stray secret.
//
// New content is staged in a temporary file beside its target, named
// ".<target name>.tarvik-XXXXXX" (a name only this tool makes), flushed to
// disk with its final mode, and only then renamed over the target. A kill
// between staging and renaming leaves such a temporary file; the next
// writing run removes exactly those (RemoveLeftoverTemporaryFiles).
//
// Only folder entries are replaced or removed: a symbolic link at a target
// is itself replaced or removed, never written through. Anything at a target
// that is not a regular file, a symbolic link or an empty folder (a FIFO, a
// socket, a device, a folder with content) is refused and left alone.
//
// Every failure logs one ERROR record naming the path (as PathForRecord
// shows it) and the system's error text. Threads: any; everything here
// blocks on the file system.

#include <string>

namespace vantorel {

// Whether what stands at `path` may be replaced or removed: nothing, a
// regular file, a symbolic link or an empty folder. Otherwise false, logged.
bool IsReplaceablePath(const std::string& path);

// Whether two credential paths name one file: the same name once each is
// made absolute, the symbolic links along its existing part are followed
// (dangling ones and the last component's included) and the part that does
// not exist yet is normalised as text ("." and empty components dropped,
// ".." taking back the component before it); or the same existing file
// (hard links). So "N/x", "N/./x" and "N//x" are one file even while the
// folder N is missing.
bool NameTheSameFile(const std::string& first, const std::string& second);

// Removes whatever stands at `path` if IsReplaceablePath allows it; true
// when it is gone or was never there.
bool RemoveCredentialPath(const std::string& path);

// Removes the temporary files that interrupted writes left beside `path`
// (regular files and symbolic links named as described above, nothing
// else), logging a WARNING for each.
void RemoveLeftoverTemporaryFiles(const std::string& path);

// Makes the missing folders above `path` (mode 0700 less the umask). False
// (logged) when one cannot be made.
bool MakeParentFolders(const std::string& path);

// A target's new content, held in a temporary file beside it until
// Commit(). Destroying an uncommitted StagedFile removes the temporary file.
class StagedFile {
 public:
  enum class Result { kOk, kWriteFailed, kPermissionsFailed };

  explicit StagedFile(std::string target);
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  // Makes missing parent folders (mode 0700 less the umask), then writes
  // `data` to a new temporary file with mode 0644 and flushes it to disk.
  // Call once.
  Result Write(const std::string& data);

  // Renames the temporary file over the target (an empty folder there is
  // removed first) and flushes the folder. False (logged) leaves the target
  // as it was. Call once, after a successful Write().
  bool Commit();

  const std::string& target() const { return target_; }

  // Whether Commit() renamed the new content over the target; it may still
  // have failed afterwards, flushing the folder.
  bool renamed() const { return renamed_; }

 private:
  const std::string target_;
  std::string temp_path_;
  bool renamed_ = false;
};

// What stood at a target, moved aside under a temporary name (the pattern
// above, so that a kill leaves it to the next writing run's cleanup) while
// the target is being replaced, so that it can come back when the
// replacement fails. Destroying an AsideFile that still holds the moved
// file removes it.
class AsideFile {
 public:
  explicit AsideFile(std::string target);
  AsideFile(const AsideFile&) = delete;
  AsideFile& operator=(const AsideFile&) = delete;
  ~AsideFile();

  // Renames a regular file or a symbolic link at the target to a new
  // temporary name beside it; removes an empty folder there (it holds
  // nothing to bring back); nothing at the target is success. False (logged)
  // when the file cannot be moved, e.g. another user's in a sticky folder;
  // the target is then as it was. Call once.
  bool MoveAside();

  // Renames the moved file back to the target. False (logged, saying where
  // the file is) leaves it under its temporary name. Call at most once,
  // after a successful MoveAside(); nothing moved is success.
  bool Restore();

 private:
  const std::string target_;
  std::string aside_path_;
};

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_TARVIK_CREDENTIAL_FILE_WRITER_H_
