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
#include <vector>

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

std::string JoinComponents(const std::vector<std::string>& components) {
  if (components.empty()) return "/";
  std::string joined;
  for (const std::string& component : components) joined += "/" + component;
  return joined;
}

// The absolute name that `path` leads to: symbolic links along its existing
// part followed (dangling ones too, by their text), and the rest, which
// does not exist yet, normalised as text. Empty when the working folder is
// unknown.
std::string ResolvedName(const std::string& path) {
  std::deque<std::string> rest;
  if (path.empty() || path[0] != '/') {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return std::string();
    AppendComponents(cwd, &rest);
    free(cwd);
  }
  AppendComponents(path, &rest);
  std::vector<std::string> done;
  bool existing = true;
  int links = 0;
  while (!rest.empty()) {
    std::string component = std::move(rest.front());
    rest.pop_front();
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      // Within the existing part `done` holds no links, so its parent is
      // the real one.
      if (!done.empty()) done.pop_back();
      continue;
    }
    done.push_back(std::move(component));
    if (!existing) continue;
    const std::string current = JoinComponents(done);
    struct stat info;
    if (lstat(current.c_str(), &info) != 0) {
      existing = false;
      continue;
    }
    if (!S_ISLNK(info.st_mode)) continue;
    std::vector<char> target(info.st_size > 0 ? info.st_size + 1 : PATH_MAX);
    const ssize_t length =
        readlink(current.c_str(), target.data(), target.size());
    if (++links > kMaxLinksFollowed || length < 0 ||
        static_cast<size_t>(length) >= target.size()) {
      // The kernel would not get past this link either.
      existing = false;
      continue;
    }
    done.pop_back();
    const std::string link_text(target.data(), static_cast<size_t>(length));
    if (!link_text.empty() && link_text[0] == '/') done.clear();
    std::deque<std::string> link_components;
    AppendComponents(link_text, &link_components);
    rest.insert(rest.begin(), link_components.begin(), link_components.end());
  }
  return JoinComponents(done);
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

bool NameTheSameFile(const std::string& first, const std::string& second) {
  if (first == second) return true;
  const std::string first_name = ResolvedName(first);
  if (!first_name.empty() && first_name == ResolvedName(second)) return true;
  struct stat first_info;
  struct stat second_info;
  return stat(first.c_str(), &first_info) == 0 &&
         stat(second.c_str(), &second_info) == 0 &&
         first_info.st_dev == second_info.st_dev &&
         first_info.st_ino == second_info.st_ino;
}

bool RemoveCredentialPath(const std::string& path) {
  if (!IsReplaceablePath(path)) return false;
  if (kelmbase::DeleteFile(kelmbase::FilePath(path))) return true;
  LogFailure("RemoveCredentialPath", "remove", path, errno);
  return false;
}

void RemoveLeftoverTemporaryFiles(const std::string& path) {
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

}  // namespace vantorel
