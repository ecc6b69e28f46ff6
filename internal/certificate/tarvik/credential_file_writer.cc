#include "internal/certificate/tarvik/credential_file_writer.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "agent/base/files/file_enumerator.h"
#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/files/scoped_file.h"
#include "agent/base/location.h"
#include "agent/base/threading/scoped_blocking_call.h"
#include "logging/log.h"

namespace vantorel {

namespace {

constexpr char kTempMarker[] = ".tarvik-";
// mkostemp's random part.
constexpr size_t kTempRandomLength = 6;
// Room for the marker and the random part within a name's 255 bytes.
constexpr size_t kMaxTargetNameInTemp = 200;

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
  LOG(ERROR) << function << ": cannot " << what << " " << path << ": "
             << std::strerror(error);
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
    LOG(ERROR) << "IsReplaceablePath: " << path
               << " is a folder that is not empty; it is left as it is.";
    return false;
  }
  LOG(ERROR) << "IsReplaceablePath: " << path
             << " is not a regular file; it is left as it is.";
  return false;
}

bool NameTheSameFile(const std::string& first, const std::string& second) {
  if (first == second) return true;
  auto entry_of = [](const std::string& path) {
    const kelmbase::FilePath file(path);
    const kelmbase::FilePath dir =
        kelmbase::MakeAbsoluteFilePath(file.DirName());
    return dir.empty() ? std::string() : dir.Append(file.BaseName()).value();
  };
  const std::string first_entry = entry_of(first);
  if (!first_entry.empty() && first_entry == entry_of(second)) return true;
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
    if (!IsLeftoverName(leftover.BaseName().value(), prefix) ||
        !S_ISREG(entries.GetInfo().stat().st_mode)) {
      continue;
    }
    if (unlink(leftover.value().c_str()) == 0) {
      LOG(WARNING) << "RemoveLeftoverTemporaryFiles: removed "
                   << leftover.value() << ", left by an interrupted run.";
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
  const kelmbase::FilePath dir = target.DirName();
  kelmbase::ScopedBlockingCall scoped_blocking_call(
      FROM_HERE, kelmbase::BlockingType::kMayBlock);
  if (!MakeParentFolders(target_)) return Result::kWriteFailed;
  std::string temp_path =
      dir.Append(TempPrefix(target) + std::string(kTempRandomLength, 'X'))
          .value();
  kelmbase::ScopedFD fd(mkostemp(temp_path.data(), O_CLOEXEC));
  if (!fd.is_valid()) {
    LogFailure("StagedFile", "create a temporary file in", dir.value(), errno);
    return Result::kWriteFailed;
  }
  temp_path_ = temp_path;
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
  const kelmbase::FilePath dir = kelmbase::FilePath(target_).DirName();
  if (!SyncFolder(dir)) {
    LogFailure("StagedFile", "flush the folder", dir.value(), errno);
    return false;
  }
  return true;
}

}  // namespace vantorel
