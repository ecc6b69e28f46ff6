#include "internal/certificate/tarvik/credential_file_writer.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>

#include "agent/base/files/file_enumerator.h"
#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/files/scoped_file.h"
#include "agent/base/location.h"
#include "agent/base/threading/scoped_blocking_call.h"
#include "internal/certificate/credential_file.h"
#include "logging/log.h"

namespace vantorel {

namespace {

constexpr char kTempMarker[] = ".tarvik-";
// mkostemp's random part.
constexpr size_t kTempRandomLength = 6;
// Room for the marker and the random part within a name's 255 bytes.
constexpr size_t kMaxTargetNameInTemp = 200;
// As many symbolic links as the kernel follows in one path lookup.
constexpr int kMaxLinksFollowed = 40;

// ".<target name>.tarvik-"; the name is shortened so that a target whose
// own name is near the limit can still be staged.
std::string TempPrefix(const kelmbase::FilePath& target) {
  return "." + target.BaseName().value().substr(0, kMaxTargetNameInTemp) +
         kTempMarker;
}

bool IsLeftoverName(const std::string& name, const std::string& prefix) {
  if (name.size() != prefix.size() + kTempRandomLength) return false;
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

bool IsEmptyFolder(const std::string& path) {
  kelmbase::FileEnumerator entries(kelmbase::FilePath(path), false,
                                   kelmbase::FileEnumerator::kFiles |
                                       kelmbase::FileEnumerator::kDirectories |
                                       kelmbase::FileEnumerator::kShowSymLinks);
  return entries.Next().empty();
}

// write() until every byte is out, retrying interrupted calls.
bool WriteAll(int fd, const std::string& data) {
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    written += static_cast<size_t>(n);
  }
  return true;
}

bool SyncFd(int fd) {
  int result;
  do {
    result = fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// Flushes a folder's entries, so that a rename in it survives power loss.
bool SyncFolder(const kelmbase::FilePath& dir) {
  kelmbase::ScopedFD fd(
      open(dir.value().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.is_valid() && SyncFd(fd.get());
}

void LogFailure(const char* function, const char* what, const std::string& path,
                int error) {
  LOG(ERROR) << function << ": cannot " << what << " " << PathForRecord(path)
             << ": " << std::strerror(error);
}

// A new, empty file of the temporary pattern beside `target`; empty (logged)
// on failure.
std::string MakeTempFile(const char* function, const kelmbase::FilePath& target,
                         kelmbase::ScopedFD* fd) {
  const kelmbase::FilePath dir = target.DirName();
  std::string temp_path =
      dir.Append(TempPrefix(target) + std::string(kTempRandomLength, 'X'))
          .value();
  fd->reset(mkostemp(temp_path.data(), O_CLOEXEC));
  if (!fd->is_valid()) {
    LogFailure(function, "create a temporary file in", dir.value(), errno);
    return std::string();
  }
  return temp_path;
}

void AppendComponents(const std::string& path,
                      std::deque<std::string>* components) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    components->push_back(path.substr(start, end - start));
    start = end + 1;
  }
}

kelmbase::ScopedFD OpenFolder(int at, const char* name) {
  return kelmbase::ScopedFD(
      openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The folder entry that rename() replaces when given a path: the folder
// that holds it, as the deepest folder that exists and the names below it
// that do not yet, and its own name.
struct FolderEntry {
  dev_t device = 0;
  ino_t inode = 0;
  std::vector<std::string> missing;
  std::string name;

  bool operator==(const FolderEntry& other) const {
    return device == other.device && inode == other.inode &&
           missing == other.missing && name == other.name;
  }
};

// Finds `path`'s folder entry, following the symbolic links above its last
// name as the kernel would: dangling ones by their text, which is then
// normalised with the rest that does not exist yet ("." and empty
// components dropped, ".." taking back the component before it). False
// when that cannot be known: a loop or too many links, a link or a folder
// that cannot be read or searched.
bool FindFolderEntry(const std::string& path, FolderEntry* entry) {
  std::deque<std::string> rest;
  AppendComponents(path, &rest);
  while (!rest.empty() && (rest.back().empty() || rest.back() == ".")) {
    rest.pop_back();
  }
  if (!rest.empty()) {
    entry->name = std::move(rest.back());
    rest.pop_back();
  }
  // Which folder such a name replaces depends on what it turns out to be.
  if (entry->name == "..") return false;
  kelmbase::ScopedFD folder =
      OpenFolder(AT_FDCWD, !path.empty() && path[0] == '/' ? "/" : ".");
  if (!folder.is_valid()) return false;
  int links = 0;
  while (!rest.empty()) {
    const std::string component = std::move(rest.front());
    rest.pop_front();
    if (component.empty() || component == ".") continue;
    if (!entry->missing.empty()) {
      if (component == "..") {
        entry->missing.pop_back();
      } else {
        entry->missing.push_back(component);
      }
      continue;
    }
    if (component == "..") {
      // The real parent: a link's ".." is that of what it points to.
      folder = OpenFolder(folder.get(), "..");
      if (!folder.is_valid()) return false;
      continue;
    }
    struct stat info;
    if (fstatat(folder.get(), component.c_str(), &info, AT_SYMLINK_NOFOLLOW) !=
        0) {
      if (errno != ENOENT) return false;
      entry->missing.push_back(component);
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      folder = OpenFolder(folder.get(), component.c_str());
      if (!folder.is_valid()) return false;
      continue;
    }
    if (!S_ISLNK(info.st_mode)) {
      // Nothing can be made below a file, so no writer gets further; what
      // follows is compared as text.
      entry->missing.push_back(component);
      continue;
    }
    if (++links > kMaxLinksFollowed) return false;
    std::vector<char> target(info.st_size > 0 ? info.st_size + 1 : PATH_MAX);
    const ssize_t length =
        readlinkat(folder.get(), component.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) {
      return false;
    }
    if (target[0] == '/') {
      folder = OpenFolder(AT_FDCWD, "/");
      if (!folder.is_valid()) return false;
    }
    std::deque<std::string> link_components;
    AppendComponents(std::string(target.data(), static_cast<size_t>(length)),
                     &link_components);
    rest.insert(rest.begin(), link_components.begin(), link_components.end());
  }
  struct stat info;
  if (fstat(folder.get(), &info) != 0) return false;
  entry->device = info.st_dev;
  entry->inode = info.st_ino;
  return true;
}

}  // namespace

bool IsReplaceablePath(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    LogFailure("IsReplaceablePath", "examine", path, errno);
    return false;
  }
  if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) return true;
  if (S_ISDIR(info.st_mode)) {
    if (IsEmptyFolder(path)) return true;
    LOG(ERROR) << "IsReplaceablePath: " << PathForRecord(path)
               << " is a folder that is not empty; it is left as it is.";
    return false;
  }
  LOG(ERROR) << "IsReplaceablePath: " << PathForRecord(path)
             << " is not a regular file; it is left as it is.";
  return false;
}

SameFile CompareCredentialPaths(const std::string& first,
                                const std::string& second) {
  if (first == second) return SameFile::kYes;
  struct stat first_info;
  struct stat second_info;
  if (stat(first.c_str(), &first_info) == 0 &&
      stat(second.c_str(), &second_info) == 0 &&
      first_info.st_dev == second_info.st_dev &&
      first_info.st_ino == second_info.st_ino) {
    return SameFile::kYes;
  }
  FolderEntry first_entry;
  FolderEntry second_entry;
  if (!FindFolderEntry(first, &first_entry) ||
      !FindFolderEntry(second, &second_entry)) {
    return SameFile::kCannotTell;
  }
  return first_entry == second_entry ? SameFile::kYes : SameFile::kNo;
}

bool NameTheSameFile(const std::string& first, const std::string& second) {
  return CompareCredentialPaths(first, second) != SameFile::kNo;
}

bool RemoveCredentialPath(const std::string& path) {
  if (!IsReplaceablePath(path)) return false;
  if (kelmbase::DeleteFile(kelmbase::FilePath(path))) return true;
  LogFailure("RemoveCredentialPath", "remove", path, errno);
  return false;
}

void RemoveLeftoverTemporaryFiles(const std::string& path,
                                  const std::vector<std::string>& keep) {
  const kelmbase::FilePath target(path);
  const std::string prefix = TempPrefix(target);
  kelmbase::FileEnumerator entries(target.DirName(), false,
                                   kelmbase::FileEnumerator::kFiles |
                                       kelmbase::FileEnumerator::kShowSymLinks);
  for (kelmbase::FilePath leftover = entries.Next(); !leftover.empty();
       leftover = entries.Next()) {
    // A link is there when a kill came while an old link stood aside.
    const mode_t mode = entries.GetInfo().stat().st_mode;
    if (!IsLeftoverName(leftover.BaseName().value(), prefix) ||
        !(S_ISREG(mode) || S_ISLNK(mode))) {
      continue;
    }
    // A credential file may bear such a name; this run needs it.
    bool kept = false;
    for (const std::string& needed : keep) {
      kept = kept || CompareCredentialPaths(leftover.value(), needed) !=
                         SameFile::kNo;
    }
    if (kept) continue;
    if (unlink(leftover.value().c_str()) == 0) {
      LOG(WARNING) << "RemoveLeftoverTemporaryFiles: removed "
                   << PathForRecord(leftover.value())
                   << ", left by an interrupted run.";
    } else if (errno != ENOENT) {
      LogFailure("RemoveLeftoverTemporaryFiles", "remove", leftover.value(),
                 errno);
    }
  }
}

bool MakeParentFolders(const std::string& path) {
  const kelmbase::FilePath dir = kelmbase::FilePath(path).DirName();
  if (kelmbase::DirectoryExists(dir) || kelmbase::CreateDirectory(dir)) {
    return true;
  }
  // The folder maker keeps no reason: find the first folder that could not
  // be made and ask the system once more.
  kelmbase::FilePath missing = dir;
  while (missing.DirName() != missing &&
         !kelmbase::DirectoryExists(missing.DirName())) {
    missing = missing.DirName();
  }
  const int error = mkdir(missing.value().c_str(), 0700) == 0 ? EIO : errno;
  LogFailure("MakeParentFolders", "make the folder", missing.value(), error);
  return false;
}

StagedFile::StagedFile(std::string target) : target_(std::move(target)) {}

StagedFile::~StagedFile() {
  if (!temp_path_.empty()) unlink(temp_path_.c_str());
}

StagedFile::Result StagedFile::Write(const std::string& data) {
  const kelmbase::FilePath target(target_);
  kelmbase::ScopedBlockingCall scoped_blocking_call(
      FROM_HERE, kelmbase::BlockingType::kMayBlock);
  if (!MakeParentFolders(target_)) return Result::kWriteFailed;
  kelmbase::ScopedFD fd;
  temp_path_ = MakeTempFile("StagedFile", target, &fd);
  if (temp_path_.empty()) return Result::kWriteFailed;
  if (!WriteAll(fd.get(), data) || !SyncFd(fd.get())) {
    LogFailure("StagedFile", "write", temp_path_, errno);
    return Result::kWriteFailed;
  }
  if (fchmod(fd.get(), 0644) != 0) {
    LogFailure("StagedFile", "set the mode of", temp_path_, errno);
    return Result::kPermissionsFailed;
  }
  return Result::kOk;
}

bool StagedFile::Commit() {
  kelmbase::ScopedBlockingCall scoped_blocking_call(
      FROM_HERE, kelmbase::BlockingType::kMayBlock);
  struct stat info;
  // rename() cannot replace a folder with a file: an empty one goes first.
  if (lstat(target_.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
      !RemoveCredentialPath(target_)) {
    return false;
  }
  if (rename(temp_path_.c_str(), target_.c_str()) != 0) {
    LogFailure("StagedFile", "rename the new content to", target_, errno);
    return false;
  }
  temp_path_.clear();
  renamed_ = true;
  const kelmbase::FilePath dir = kelmbase::FilePath(target_).DirName();
  if (!SyncFolder(dir)) {
    LogFailure("StagedFile", "flush the folder", dir.value(), errno);
    return false;
  }
  return true;
}

AsideFile::AsideFile(std::string target) : target_(std::move(target)) {}

AsideFile::~AsideFile() {
  // Already gone is no failure.
  if (!aside_path_.empty() && unlink(aside_path_.c_str()) != 0 &&
      errno != ENOENT) {
    LogFailure("AsideFile", "remove", aside_path_, errno);
  }
}

bool AsideFile::MoveAside() {
  kelmbase::ScopedBlockingCall scoped_blocking_call(
      FROM_HERE, kelmbase::BlockingType::kMayBlock);
  struct stat info;
  if (lstat(target_.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    LogFailure("AsideFile", "examine", target_, errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) return RemoveCredentialPath(target_);
  // The rename replaces this empty file of ours: the name is then taken
  // by nobody else, and a kill in between leaves only a leftover.
  kelmbase::ScopedFD fd;
  const std::string aside_path =
      MakeTempFile("AsideFile", kelmbase::FilePath(target_), &fd);
  if (aside_path.empty()) return false;
  fd.reset();
  if (rename(target_.c_str(), aside_path.c_str()) != 0) {
    const int error = errno;
    unlink(aside_path.c_str());
    LOG(ERROR) << "AsideFile: cannot rename " << PathForRecord(target_)
               << " to " << PathForRecord(aside_path) << ": "
               << std::strerror(error);
    return false;
  }
  aside_path_ = aside_path;
  return true;
}

bool AsideFile::Restore() {
  if (aside_path_.empty()) return true;
  kelmbase::ScopedBlockingCall scoped_blocking_call(
      FROM_HERE, kelmbase::BlockingType::kMayBlock);
  const std::string aside_path = std::move(aside_path_);
  aside_path_.clear();
  if (rename(aside_path.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    LOG(ERROR) << "AsideFile: cannot rename " << PathForRecord(aside_path)
               << " back to " << PathForRecord(target_) << ": "
               << std::strerror(error) << "; the old file is at "
               << PathForRecord(aside_path)
               << ", where the next writing run removes it.";
    return false;
  }
  const kelmbase::FilePath dir = kelmbase::FilePath(target_).DirName();
  if (!SyncFolder(dir)) {
    LogFailure("AsideFile", "flush the folder", dir.value(), errno);
  }
  return true;
}

bool CommitPair(StagedFile* cert, StagedFile* key) {
  AsideFile old_key(key->target());
  if (!old_key.MoveAside()) return false;
  const bool cert_committed = cert->Commit();
  if (!cert->renamed()) {
    old_key.Restore();
    return false;
  }
  // The new certificate is in place whatever followed its rename: without
  // the new key beside it there would be no pair at all.
  const bool key_committed = key->Commit();
  return cert_committed && key_committed;
}

}  // namespace vantorel
