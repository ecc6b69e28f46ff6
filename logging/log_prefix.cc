#include "logging/log_prefix.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace kelm_log {
namespace {

// Appends to a fixed buffer, remembering overflow instead of writing past it.
class PrefixWriter {
 public:
  PrefixWriter(char* buf, size_t size) : buf_(buf), size_(size) {}

  void Char(char c) {
    if (pos_ + 1 < size_) {
      buf_[pos_++] = c;
    } else {
      overflow_ = true;
    }
  }

  void Text(const char* s) {
    while (*s != '\0') Char(*s++);
  }

  // Writes `value` in decimal, left-padded with `pad` to at least `width`.
  void Number(int64_t value, int width, char pad) {
    char digits[24];
    int n = 0;
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value)
                                   : static_cast<uint64_t>(value);
    do {
      digits[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[n++] = '-';
    for (int i = n; i < width; ++i) Char(pad);
    while (n > 0) Char(digits[--n]);
  }

  size_t Finish() {
    if (overflow_ || size_ == 0) {
      if (size_ != 0) buf_[0] = '\0';
      return 0;
    }
    buf_[pos_] = '\0';
    return pos_;
  }

 private:
  char* buf_;
  size_t size_;
  size_t pos_ = 0;
  bool overflow_ = false;
};

}  // namespace

char SeverityLetter(LogSeverity severity) {
  int level = static_cast<int>(severity);
  if (level <= 0) return 'I';
  if (level == 1) return 'W';
  if (level == 3) return 'F';
  return 'E';
}

size_t FormatLogPrefix(LogSeverity severity, int64_t unix_seconds,
                       int32_t microseconds, pid_t tid, const char* base_name,
                       int line, char* buf, size_t size) {
  PrefixWriter out(buf, size);
  out.Char(SeverityLetter(severity));
  out.Text("0000 00:00:");
  out.Number(unix_seconds, 0, '0');
  out.Char('.');
  out.Number(microseconds, 6, '0');
  out.Char(' ');
  out.Number(tid, 7, ' ');
  out.Char(' ');
  out.Text(base_name);
  out.Char(':');
  out.Number(line, 0, '0');
  out.Text("] ");
  return out.Finish();
}

const char* BaseName(const char* path) {
  if (path == nullptr) return "";
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

pid_t CurrentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

}  // namespace kelm_log
