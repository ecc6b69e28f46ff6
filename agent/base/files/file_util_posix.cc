#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "agent/base/files/file.h"
#include "agent/base/files/file_enumerator.h"
#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/location.h"
#include "agent/base/threading/scoped_blocking_call.h"

namespace kelmbase {

namespace {

// Buffer size for realpath and getcwd.
constexpr size_t kPathBufferSize = PATH_MAX;

// True when the call's result means the path is gone: it succeeded, or there
// was nothing to remove.
bool RemovedOrMissing(int result) { return result == 0 || errno == ENOENT; }

std::string AppendModeCharacter(const char* mode, char mode_char) {
  std::string result(mode);
  size_t comma_pos = result.find(',');
  result.insert(comma_pos == std::string::npos ? result.size() : comma_pos, 1,
                mode_char);
  return result;
}

}  // namespace

bool DoDeleteFile(const FilePath& path, bool recursive) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);

  const char* path_str = path.value().c_str();
  stat_wrapper_t file_info;
  if (lstat(path_str, &file_info) != 0) return errno == ENOENT;
  if (!S_ISDIR(file_info.st_mode)) return RemovedOrMissing(unlink(path_str));
  if (!recursive) return RemovedOrMissing(rmdir(path_str));

  // Files go first, as they are found; directories are removed afterwards,
  // deepest (most recently found) first, once they are empty.
  bool success = true;
  std::vector<FilePath> directories;
  directories.push_back(path);
  FileEnumerator traversal(path, true,
                           FileEnumerator::kFiles |
                               FileEnumerator::kDirectories |
                               FileEnumerator::kShowSymLinks);
  for (FilePath current = traversal.Next(); !current.empty();
       current = traversal.Next()) {
    if (traversal.GetInfo().IsDirectory()) {
      directories.push_back(current);
    } else if (!RemovedOrMissing(unlink(current.value().c_str()))) {
      success = false;
    }
  }
  while (!directories.empty()) {
    if (!RemovedOrMissing(rmdir(directories.back().value().c_str()))) {
      success = false;
    }
    directories.pop_back();
  }
  return success;
}

bool DeleteFile(const FilePath& path) { return DoDeleteFile(path, false); }

FilePath MakeAbsoluteFilePath(const FilePath& input) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
  char full_path[kPathBufferSize];
  if (realpath(input.value().c_str(), full_path) == nullptr) return FilePath();
  return FilePath(full_path);
}

bool PathExists(const FilePath& path) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
  return access(path.value().c_str(), F_OK) == 0;
}

bool DirectoryExists(const FilePath& path) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
  stat_wrapper_t file_info;
  if (stat(path.value().c_str(), &file_info) != 0) return false;
  return S_ISDIR(file_info.st_mode);
}

bool SetPosixFilePermissions(const FilePath& path, int mode) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
  stat_wrapper_t file_info;
  if (stat(path.value().c_str(), &file_info) != 0) return false;

  constexpr mode_t kPermissionMask = 0777;
  mode_t updated_mode = (file_info.st_mode & ~kPermissionMask) |
                        (static_cast<mode_t>(mode) & kPermissionMask);
  int result;
  do {
    result = chmod(path.value().c_str(), updated_mode);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool GetTempDir(FilePath* path) {
  const char* tmp = getenv("TMPDIR");
  *path = FilePath(tmp != nullptr ? tmp : "/tmp");
  return true;
}

FilePath GetHomeDir() {
  const char* home_dir = getenv("HOME");
  if (home_dir != nullptr && home_dir[0] != '\0') return FilePath(home_dir);
  FilePath temp_dir;
  GetTempDir(&temp_dir);
  return temp_dir;
}

FILE* OpenFile(const FilePath& filename, const char* mode) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
  // Close-on-exec, so a child process never inherits the stream.
  std::string mode_with_e = AppendModeCharacter(mode, 'e');
  FILE* result;
  do {
    result = fopen(filename.value().c_str(), mode_with_e.c_str());
  } while (result == nullptr && errno == EINTR);
  return result;
}

bool ReadFromFd(int fd, char* buffer, size_t bytes) {
  size_t total_read = 0;
  while (total_read < bytes) {
    ssize_t bytes_read = read(fd, buffer + total_read, bytes - total_read);
    if (bytes_read < 0 && errno == EINTR) continue;
    if (bytes_read <= 0) break;
    total_read += static_cast<size_t>(bytes_read);
  }
  return total_read == bytes;
}

int WriteFile(const FilePath& filename, const char* data, int size) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
  int fd;
  do {
    fd = creat(filename.value().c_str(), 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;

  int bytes_written = WriteAllToFd(fd, size, data) ? size : -1;
  // The descriptor is gone after EINTR too, so that is no failure.
  if (close(fd) != 0 && errno != EINTR) return -1;
  return bytes_written;
}

bool WriteAllToFd(int fd, int size, const char* data) {
  if (size < 0) __builtin_trap();

  size_t remaining = static_cast<size_t>(size);
  while (remaining > 0) {
    ssize_t bytes_written = write(fd, data, remaining);
    if (bytes_written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += bytes_written;
    remaining -= static_cast<size_t>(bytes_written);
  }
  return true;
}

bool CreateDirectory(const FilePath& full_path) {
  return CreateDirectoryAndGetError(full_path, nullptr);
}

bool CreateDirectoryAndGetError(const FilePath& full_path,
                                File::Error* error) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);

  // The path and all its ancestors, ending with the root ("/", "//") or ".".
  std::vector<FilePath> subpaths;
  subpaths.push_back(full_path);
  for (FilePath path = full_path.DirName(); path != subpaths.back();
       path = path.DirName()) {
    subpaths.push_back(path);
  }

  for (auto it = subpaths.rbegin(); it != subpaths.rend(); ++it) {
    if (DirectoryExists(*it)) continue;
    if (mkdir(it->value().c_str(), 0700) == 0) continue;
    // Another process may have made it in the meantime; that is success.
    int saved_errno = errno;
    if (!DirectoryExists(*it)) {
      if (error != nullptr) *error = File::ErrorFromErrno(saved_errno);
      return false;
    }
  }
  return true;
}

bool GetCurrentDirectory(FilePath* dir) {
  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);
  char system_buffer[kPathBufferSize] = {};
  if (getcwd(system_buffer, sizeof(system_buffer)) == nullptr) return false;
  *dir = FilePath(system_buffer);
  return true;
}

bool CreateNonBlockingPipe(int fds[2]) {
  return pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0;
}

}  // namespace kelmbase
