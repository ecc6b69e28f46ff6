#ifndef INTERNAL_CERTIFICATE_CREDENTIAL_FILE_H_
#define INTERNAL_CERTIFICATE_CREDENTIAL_FILE_H_

// Reading a credential file, and how its content may appear in a record.
//
// The credential paths come from switches and environment variables, so
// they may name anything: a FIFO that never delivers, a device, a file far
// larger than any certificate. Reading refuses all of these before it reads
// a byte, and a record never carries the content itself: a certificate file
// may hold a private key, and a huge one would make one huge record.
//
// Threads: any; reading blocks on the file system.

#include <cstddef>
#include <string>

namespace vantorel {

// The largest certificate file (and chain file) read: far above any real
// chain, which is a few kilobytes.
inline constexpr size_t kMaxCertificateFileSize = 1024 * 1024;

// The largest wrapped-key file read; a wrapped key is a few hundred bytes.
inline constexpr size_t kMaxWrappedKeyFileSize = 64 * 1024;

// What reading a credential file came to. A caller that would replace a
// file it could not read must tell the two failures apart: a missing file
// is there to be made, but one that is there and cannot be read may hold
// credentials that work for someone who can read them.
enum class ReadOutcome {
  kRead,
  // Nothing stands at the path (a dangling symbolic link included).
  kMissing,
  // Something stands there but was not read: see ReadCredentialFile.
  kUnreadable,
};

// Reads the regular file at `path` (symbolic links followed) whole into
// `contents`. Never blocks on a FIFO or device: those are refused, as are
// folders, files larger than `max_size` bytes and paths with a ".."
// component; so are paths that cannot be opened or read for any reason but
// a missing file (permissions, a file where a folder should be, a read
// error). Each of these is kUnreadable and logs one ERROR record naming the
// path and the reason; a missing file logs nothing, so that the caller's own
// record stands alone. Unless kRead, `contents` is empty.
ReadOutcome ReadCredentialFile(const std::string& path, size_t max_size,
                               std::string* contents);

// A summary of a credential file's text fit for a record: its length and
// the label of its first line when that line is a PEM begin line, e.g.
// "[1234 bytes, first PEM label CERTIFICATE]" or "[12 bytes, no PEM label]".
// The label is shown only when it is short and printable.
std::string DescribeCredentialText(const std::string& text);

// `path` as a record shows it: kelm_log::EscapeForRecord, which every value
// from the command line or the environment goes through (control bytes as
// C escapes, a backslash doubled), so that a path holding a newline cannot
// end a record and start a false one, and each shown path reads back to
// exactly one path.
std::string PathForRecord(const std::string& path);

}  // namespace vantorel

#endif  // INTERNAL_CERTIFICATE_CREDENTIAL_FILE_H_
