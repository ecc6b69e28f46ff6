#include "agent/base/files/file_util.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <string>

#include "agent/base/files/file.h"
#include "agent/base/location.h"
#include "agent/base/threading/scoped_blocking_call.h"

namespace kelmbase {

namespace {

// Size hint for streams whose stat size says nothing (pipes, /proc files).
constexpr size_t kDefaultSizeHint = 65535;
// Read size after the first chunk.
constexpr size_t kDefaultChunkSize = 65536;

}  // namespace

bool ReadStreamToStringWithMaxSize(FILE* stream, size_t max_size,
                                   std::string* contents) {
  if (contents != nullptr) contents->clear();

  int seek_result;
  do {
    seek_result = fseek(stream, 0, SEEK_SET);
  } while (seek_result != 0 && errno == EINTR);

  ScopedBlockingCall scoped_blocking_call(FROM_HERE, BlockingType::kMayBlock);

  size_t size_hint = kDefaultSizeHint;
  stat_wrapper_t file_info;
  if (File::Fstat(fileno(stream), &file_info) == 0 && file_info.st_size > 0) {
    size_hint = static_cast<size_t>(file_info.st_size);
  }
  // One byte more than the expected size, so that a file of exactly its stat
  // size is read in one call and its end seen at once.
  size_t chunk_size = std::min(max_size, size_hint);
  if (chunk_size < std::numeric_limits<size_t>::max()) ++chunk_size;

  std::string buffer;
  size_t bytes_read_so_far = 0;
  bool read_status = true;
  while (true) {
    buffer.resize(bytes_read_so_far + chunk_size);
    size_t bytes_read_this_pass =
        fread(&buffer[bytes_read_so_far], 1, chunk_size, stream);
    if (bytes_read_this_pass == 0) break;
    if (max_size - bytes_read_so_far < bytes_read_this_pass) {
      bytes_read_so_far = max_size;
      read_status = false;
      break;
    }
    bytes_read_so_far += bytes_read_this_pass;
    if (feof(stream)) break;
    chunk_size = kDefaultChunkSize;
  }
  if (read_status) read_status = !ferror(stream);

  if (contents != nullptr) {
    buffer.resize(bytes_read_so_far);
    contents->swap(buffer);
  }
  return read_status;
}

bool ReadFileToStringLimited(const FilePath& path, std::string* contents,
                             size_t max_size) {
  if (contents != nullptr) contents->clear();
  if (path.ContainsParentReference()) return false;

  FILE* stream = OpenFile(path, "rb");
  if (stream == nullptr) return false;
  bool read_status = ReadStreamToStringWithMaxSize(stream, max_size, contents);
  fclose(stream);
  return read_status;
}

bool ReadFileToString(const FilePath& path, std::string* contents) {
  return ReadFileToStringLimited(path, contents,
                                 std::numeric_limits<size_t>::max());
}

}  // namespace kelmbase
