#include "internal/certificate/credential_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/files/scoped_file.h"
#include "agent/base/location.h"
#include "agent/base/threading/scoped_blocking_call.h"
#include "logging/log.h"
#include "logging/record_text.h"

namespace vantorel {

namespace {

constexpr char kPemBegin[] = "-----BEGIN ";
constexpr char kPemDashes[] = "-----";
// Longer labels are not shown: no PEM label is anywhere near this long.
constexpr size_t kMaxShownLabel = 40;

bool IsShowableLabel(const std::string& label) {
  if (label.empty() || label.size() > kMaxShownLabel) return false;
  for (char c : label) {
    if (c < ' ' || c > '~') return false;
  }
  return true;
}

}  // namespace

ReadOutcome ReadCredentialFile(const std::string& path, size_t max_size,
                               std::string* contents) {
  contents->clear();
  if (kelmbase::FilePath(path).ContainsParentReference()) {
    LOG(ERROR) << "ReadCredentialFile: " << PathForRecord(path)
               << ": a path with a \"..\" component is not read.";
    return ReadOutcome::kUnreadable;
  }
  kelmbase::ScopedBlockingCall scoped_blocking_call(
      FROM_HERE, kelmbase::BlockingType::kMayBlock);
  // Non-blocking, so that opening a FIFO without a writer returns at once;
  // the type check below then refuses it.
  kelmbase::ScopedFD fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.is_valid()) {
    if (errno != ENOENT) {
      LOG(ERROR) << "ReadCredentialFile: cannot open " << PathForRecord(path)
                 << ": " << std::strerror(errno);
      return ReadOutcome::kUnreadable;
    }
    return ReadOutcome::kMissing;
  }
  struct stat info;
  if (fstat(fd.get(), &info) != 0) {
    LOG(ERROR) << "ReadCredentialFile: cannot examine " << PathForRecord(path)
               << ": " << std::strerror(errno);
    return ReadOutcome::kUnreadable;
  }
  if (!S_ISREG(info.st_mode)) {
    LOG(ERROR) << "ReadCredentialFile: " << PathForRecord(path)
               << " is not a regular file.";
    return ReadOutcome::kUnreadable;
  }
  if (static_cast<unsigned long long>(info.st_size) > max_size) {
    LOG(ERROR) << "ReadCredentialFile: " << PathForRecord(path) << " holds "
               << info.st_size << " bytes, more than the " << max_size
               << " allowed.";
    return ReadOutcome::kUnreadable;
  }
  FILE* stream = fdopen(fd.get(), "rb");
  if (stream == nullptr) {
    LOG(ERROR) << "ReadCredentialFile: cannot read " << PathForRecord(path)
               << ": " << std::strerror(errno);
    return ReadOutcome::kUnreadable;
  }
  // The stream owns the descriptor from here on.
  (void)fd.release();
  // The limit holds even for a file that grows while it is read.
  const bool read =
      kelmbase::ReadStreamToStringWithMaxSize(stream, max_size, contents);
  const bool grew = contents->size() == max_size;
  const int read_errno = errno;
  fclose(stream);
  if (!read) {
    contents->clear();
    if (grew) {
      LOG(ERROR) << "ReadCredentialFile: " << PathForRecord(path)
                 << " grew past the " << max_size
                 << " bytes allowed while being read.";
    } else {
      LOG(ERROR) << "ReadCredentialFile: cannot read " << PathForRecord(path)
                 << ": " << std::strerror(read_errno);
    }
    return ReadOutcome::kUnreadable;
  }
  return ReadOutcome::kRead;
}

std::string DescribeCredentialText(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t begin_length = sizeof(kPemBegin) - 1;
  const size_t dashes_length = sizeof(kPemDashes) - 1;
  std::string label;
  if (line.size() > begin_length + dashes_length &&
      line.compare(0, begin_length, kPemBegin) == 0 &&
      line.compare(line.size() - dashes_length, dashes_length, kPemDashes) ==
          0) {
    label =
        line.substr(begin_length, line.size() - begin_length - dashes_length);
  }
  std::string summary = "[" + std::to_string(text.size()) + " bytes, ";
  if (!IsShowableLabel(label)) return summary + "no PEM label]";
  return summary + "first PEM label " + label + "]";
}

std::string PathForRecord(const std::string& path) {
  return kelm_log::EscapeForRecord(path);
}

}  // namespace vantorel
