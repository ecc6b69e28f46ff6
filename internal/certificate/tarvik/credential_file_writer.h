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
#include <vector>

namespace vantorel {

// Whether what stands at `path` may be replaced or removed: nothing, a
// regular file, a symbolic link or an empty folder. Otherwise false, logged.
bool IsReplaceablePath(const std::string& path);

// Whether two credential paths name one file, as a writer sees it: both
// replace the same folder entry, whatever the spelling. That entry is the
// last name (a symbolic link there is not followed: the writer replaces
// the link) in its folder, which is known by device and inode, so that a
// bind mount or a link to a folder is no other folder: the deepest folder
// above the name that exists, with the symbolic links along the way
// followed (dangling ones by their text), and the names below it that do
// not exist yet, normalised as text ("." and empty components dropped,
// ".." taking back the component before it). So "N/x", "N/./x" and "N//x"
// are one file even while the folder N is missing. Two existing paths that
// open the same file (a link and its target, hard links) are one file too.
// kCannotTell when a path's folder cannot be found out: a loop or too many
// links, a link or a folder that cannot be read or searched, a last name
// "..". Logs nothing.
enum class SameFile { kNo, kYes, kCannotTell };
SameFile CompareCredentialPaths(const std::string& first,
                                const std::string& second);

// Whether two credential paths may name one file: CompareCredentialPaths
// does not rule it out.
bool NameTheSameFile(const std::string& first, const std::string& second);

// Removes whatever stands at `path` if IsReplaceablePath allows it; true
// when it is gone or was never there.
bool RemoveCredentialPath(const std::string& path);

// Removes the temporary files that interrupted writes left beside `path`
// (regular files and symbolic links named as described above, nothing
// else), logging a WARNING for each. A credential file of the run may bear
// such a name: what may be one file with a path of `keep`
// (NameTheSameFile) stays.
void RemoveLeftoverTemporaryFiles(const std::string& path,
                                  const std::vector<std::string>& keep);

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

// Puts a staged certificate and key in place of the old pair, so that at
// no moment, a kill included, does the new certificate stand beside the
// old key. The old key moves aside first; a key that cannot be moved (not
// the runner's in a sticky folder) stops here, before anything changed.
// When the new certificate cannot take the old one's place, the old key
// comes back and the old pair stays whole. Once the certificate is renamed
// into place, the key is always committed, even when flushing the folder
// failed, and the old key goes: the new pair is complete, or, should the
// key's own rename fail, there is no pair. False when any step failed;
// each failure is logged with the path and the system's reason. Call once,
// after both files were written.
bool CommitPair(StagedFile* cert, StagedFile* key);

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_TARVIK_CREDENTIAL_FILE_WRITER_H_
