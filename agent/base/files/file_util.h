#ifndef AGENT_BASE_FILES_FILE_UTIL_H_
#define AGENT_BASE_FILES_FILE_UTIL_H_

#include <stddef.h>
#include <stdio.h>

#include <string>

#include "agent/base/files/file.h"
#include "agent/base/files/file_path.h"

namespace kelmbase {

// Every function here that touches the file system does so inside a
// blocking-call scope. None logs; failure shows in the result only.

// Reads the whole file at `path` into `contents` (which may be null, to test
// readability only). See ReadFileToStringLimited.
bool ReadFileToString(const FilePath& path, std::string* contents);

// Reads the file at `path` into `contents` (cleared first; may be null).
// Paths with a parent reference are refused without touching the file
// system. Returns false if the file cannot be opened or read, or if it is
// longer than `max_size` bytes, in which case `contents` keeps its first
// `max_size` bytes.
bool ReadFileToStringLimited(const FilePath& path, std::string* contents,
                             size_t max_size);

// Reads `stream` from its start into `contents` (cleared first; may be
// null), with the same limit rule as ReadFileToStringLimited.
bool ReadStreamToStringWithMaxSize(FILE* stream, size_t max_size,
                                   std::string* contents);

// fopen with close-on-exec added to `mode`; null on failure.
FILE* OpenFile(const FilePath& filename, const char* mode);

// Creates or truncates `filename` (mode 0666 less the umask) and writes
// `size` bytes of `data`. Returns `size`, or -1 on failure; a failed write
// leaves the partly written file behind.
int WriteFile(const FilePath& filename, const char* data, int size);

// Writes all `size` bytes of `data` to `fd`. A negative size is a
// programming error and traps.
bool WriteAllToFd(int fd, int size, const char* data);

// Creates `full_path` and every missing parent (mode 0700 less the umask).
// An existing directory is success; an existing non-directory anywhere on
// the path is failure.
bool CreateDirectory(const FilePath& full_path);
// The same, storing the reason for a failure in `error` when given.
bool CreateDirectoryAndGetError(const FilePath& full_path, File::Error* error);

// Deletes a file, a symbolic link or an empty directory. A missing path
// counts as deleted.
bool DeleteFile(const FilePath& path);
// The same; with `recursive`, a directory is deleted with everything in it
// (symbolic links are removed, not followed).
bool DoDeleteFile(const FilePath& path, bool recursive);

// Whether something exists at `path` (symbolic links are followed).
bool PathExists(const FilePath& path);
// Whether `path` is (or leads to) a directory.
bool DirectoryExists(const FilePath& path);

// Sets the permission bits (0777) of `path` to those of `mode`, keeping its
// set-id and sticky bits.
bool SetPosixFilePermissions(const FilePath& path, int mode);

// The canonical absolute form of an existing `input` (symbolic links, "."
// and ".." resolved); the empty path if it does not exist.
FilePath MakeAbsoluteFilePath(const FilePath& input);

// The working directory; false (and `dir` unchanged) on failure.
bool GetCurrentDirectory(FilePath* dir);

// $TMPDIR when set, even to the empty string, else "/tmp". Always true.
bool GetTempDir(FilePath* path);

// $HOME when set and not empty, else the temporary directory.
FilePath GetHomeDir();

// Reads exactly `bytes` bytes into `buffer`; false if an error or the end of
// the file comes first.
bool ReadFromFd(int fd, char* buffer, size_t bytes);

// A pipe whose two ends are close-on-exec and non-blocking.
bool CreateNonBlockingPipe(int fds[2]);

}  // namespace kelmbase

#endif  // AGENT_BASE_FILES_FILE_UTIL_H_
