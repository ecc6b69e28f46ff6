#include "agent/base/debug/symbolize.h"

#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "absl/base/internal/raw_logging.h"
#include "agent/base/debug/demangle.h"
#include "agent/base/debug/elf_reader.h"
#include "agent/base/debug/signal_safe_text.h"

namespace kelmbase {
namespace debug {
namespace {

std::atomic<OpenObjectFileHook> g_open_object_file_hook{nullptr};
std::atomic<SymbolizeHook> g_symbolize_hook{nullptr};

int OpenReadOnly(const char* path) {
  for (;;) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

// Goes through the process's own close. On Linux the descriptor is released
// even when close reports EINTR, so that counts as done: closing again could
// hit a descriptor that another thread has just been given.
void CloseFile(int fd) { close(fd); }

// Closes a descriptor when it goes out of scope.
class FileCloser {
 public:
  explicit FileCloser(int fd) : fd_(fd) {}
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;
  ~FileCloser() {
    if (fd_ >= 0) CloseFile(fd_);
  }

 private:
  const int fd_;
};

// Restores errno when it goes out of scope.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ErrnoKeeper(const ErrnoKeeper&) = delete;
  ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;
  ~ErrnoKeeper() { errno = saved_; }

 private:
  const int saved_;
};

bool IsElfHeader(const Elf64_Ehdr& header) {
  return memcmp(header.e_ident, ELFMAG, SELFMAG) == 0;
}

// Hands out the lines of a text file, read at increasing offsets into a
// fixed buffer; a partial line moves to the front before the rest is read.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line, NUL-terminated in place of its newline; null at the end
  // of the text, on a read error, or for a line longer than the buffer.
  char* NextLine() {
    for (;;) {
      char* newline = static_cast<char*>(
          memchr(buffer_ + begin_, '\n', end_ - begin_));
      if (newline != nullptr) {
        char* line = buffer_ + begin_;
        *newline = '\0';
        begin_ = static_cast<size_t>(newline - buffer_) + 1;
        return line;
      }
      if (at_end_) return nullptr;
      memmove(buffer_, buffer_ + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
      if (end_ == sizeof(buffer_)) return nullptr;  // Does not fit.
      const ssize_t n = ReadAtOffset(fd_, buffer_ + end_,
                                     sizeof(buffer_) - end_, file_offset_);
      if (n <= 0) {
        at_end_ = true;
        if (n < 0) return nullptr;
        continue;
      }
      end_ += static_cast<size_t>(n);
      file_offset_ += n;
    }
  }

 private:
  const int fd_;
  char buffer_[1024];
  size_t begin_ = 0;
  size_t end_ = 0;
  off_t file_offset_ = 0;
  bool at_end_ = false;
};

// The load bias of the object whose ELF header is mapped at `start`, read
// through /proc/self/mem; false when no ELF header is there.
bool ReadLoadBias(int mem_fd, uint64_t start, uint64_t* bias) {
  if (start > static_cast<uint64_t>(INT64_MAX)) return false;
  Elf64_Ehdr header;
  if (ReadAtOffset(mem_fd, &header, sizeof(header),
                   static_cast<off_t>(start)) !=
          static_cast<ssize_t>(sizeof(header)) ||
      !IsElfHeader(header)) {
    return false;
  }
  if (header.e_type == ET_EXEC) {
    *bias = 0;
    return true;
  }
  if (header.e_type != ET_DYN) return true;
  *bias = start;
  for (size_t i = 0; i < header.e_phnum; ++i) {
    const uint64_t offset = start + header.e_phoff + i * sizeof(Elf64_Phdr);
    if (offset > static_cast<uint64_t>(INT64_MAX)) break;
    Elf64_Phdr program_header;
    if (ReadAtOffset(mem_fd, &program_header, sizeof(program_header),
                     static_cast<off_t>(offset)) !=
        static_cast<ssize_t>(sizeof(program_header))) {
      break;
    }
    if (program_header.p_type == PT_LOAD && program_header.p_offset == 0) {
      *bias = start - program_header.p_vaddr;
      break;
    }
  }
  return true;
}

const char* SkipBlanks(const char* p) {
  while (*p == ' ') ++p;
  return p;
}

const char* SkipNonBlanks(const char* p) {
  while (*p != ' ' && *p != '\0') ++p;
  return p;
}

// Searches `symbol_table_type` and its linked string table. Returns 1 when
// found, 0 when not, -1 when the string table's header cannot be read.
int FindInTable(int fd, const Elf64_Ehdr& header, uint32_t symbol_table_type,
                uint64_t pc, char* out, size_t out_size, uint64_t load_bias) {
  Elf64_Shdr symbol_table;
  if (header.e_shoff > static_cast<uint64_t>(INT64_MAX) ||
      !FindSectionByType(fd, header.e_shnum,
                         static_cast<off_t>(header.e_shoff),
                         symbol_table_type, &symbol_table)) {
    return 0;
  }
  const uint64_t link_offset =
      header.e_shoff + uint64_t{symbol_table.sh_link} * sizeof(Elf64_Shdr);
  Elf64_Shdr string_table;
  if (link_offset > static_cast<uint64_t>(INT64_MAX) ||
      ReadAtOffset(fd, &string_table, sizeof(string_table),
                   static_cast<off_t>(link_offset)) !=
          static_cast<ssize_t>(sizeof(string_table))) {
    return -1;
  }
  if (!FindSymbolForPc(pc, fd, out, out_size, load_bias, string_table,
                       symbol_table)) {
    return 0;
  }
  DemangleInPlace(out, static_cast<int>(out_size));
  return 1;
}

}  // namespace

const char* ParseHexField(const char* text, uint64_t* value) {
  uint64_t result = 0;
  const char* p = text;
  for (;; ++p) {
    const char c = *p;
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    result = (result << 4) | static_cast<uint64_t>(digit);
  }
  *value = result;
  return p;
}

int OpenObjectFileForPc(uint64_t pc, uint64_t* start_address,
                        uint64_t* base_address, char* out_file_name,
                        size_t out_file_name_size) {
  const int maps_fd = OpenReadOnly("/proc/self/maps");
  if (maps_fd < 0) return -1;
  FileCloser close_maps(maps_fd);
  const int mem_fd = OpenReadOnly("/proc/self/mem");
  if (mem_fd < 0) return -1;
  FileCloser close_mem(mem_fd);

  LineReader reader(maps_fd);
  for (;;) {
    // start-end perms offset device inode [path]
    const char* line = reader.NextLine();
    if (line == nullptr) return -1;
    uint64_t start;
    uint64_t end;
    const char* p = ParseHexField(line, &start);
    if (p == line || *p != '-') return -1;
    const char* end_text = p + 1;
    p = ParseHexField(end_text, &end);
    if (p == end_text || *p != ' ') return -1;
    const char* permissions = p + 1;
    p = SkipNonBlanks(permissions);
    if (p - permissions < 4 || *p != ' ') return -1;
    const char* after_permissions = p + 1;

    // An object's first mapping holds its ELF header, and with it the
    // bias of all its mappings.
    if (permissions[0] == 'r') ReadLoadBias(mem_fd, start, base_address);

    if (pc < start || pc >= end || permissions[0] != 'r' ||
        permissions[2] != 'x') {
      continue;
    }
    *start_address = start;
    uint64_t file_offset;
    p = ParseHexField(after_permissions, &file_offset);
    if (p == after_permissions || *p != ' ') return -1;
    p = SkipBlanks(SkipNonBlanks(SkipBlanks(p)));  // the device
    p = SkipBlanks(SkipNonBlanks(p));              // the inode
    if (*p == '\0') return -1;
    const int object_fd = OpenReadOnly(p);
    if (object_fd < 0 && out_file_name_size > 0) {
      out_file_name[0] = '\0';
      AppendCString(out_file_name, out_file_name_size, p);
    }
    return object_fd;
  }
}

bool SymbolizePc(uint64_t pc, char* out, int out_size) {
  ABSL_RAW_CHECK(out_size >= 0, "negative symbol buffer size");
  if (out_size <= 0) return false;
  ErrnoKeeper keep_errno;
  const size_t size = static_cast<size_t>(out_size);
  out[0] = '\0';
  AppendCString(out, size, "(");

  uint64_t start_address = 0;
  uint64_t load_bias = 0;
  char* const file_name = out + 1;
  const size_t file_name_size = size > 1 ? size - 1 : 0;
  const OpenObjectFileHook open_hook =
      g_open_object_file_hook.load(std::memory_order_acquire);
  const int fd = open_hook != nullptr
                     ? open_hook(pc, &start_address, &load_bias, file_name,
                                 file_name_size)
                     : OpenObjectFileForPc(pc, &start_address, &load_bias,
                                           file_name, file_name_size);
  if (fd < 0) {
    if (size > 1 && out[0] == '(' && out[1] != '\0') {
      char offset[17];
      FormatInteger(pc - load_bias, offset, sizeof(offset), 16, 1);
      AppendCString(out, size, "+0x");
      AppendCString(out, size, offset);
      AppendCString(out, size, ")");
      return true;
    }
    return false;
  }
  FileCloser close_object(fd);

  Elf64_Ehdr header;
  if (ReadAtOffset(fd, &header, sizeof(header), 0) !=
          static_cast<ssize_t>(sizeof(header)) ||
      !IsElfHeader(header)) {
    return false;
  }
  char* name = out;
  size_t name_size = size;
  const SymbolizeHook symbolize_hook =
      g_symbolize_hook.load(std::memory_order_acquire);
  if (symbolize_hook != nullptr) {
    const int written = symbolize_hook(fd, pc, out, size, load_bias);
    if (written > 0 && static_cast<size_t>(written) < size) {
      name += written;
      name_size -= static_cast<size_t>(written);
    }
  }
  for (const uint32_t type : {uint32_t{SHT_SYMTAB}, uint32_t{SHT_DYNSYM}}) {
    const int found =
        FindInTable(fd, header, type, pc, name, name_size, load_bias);
    if (found < 0) return false;
    if (found > 0) return true;
  }
  return false;
}

void InstallOpenObjectFileHook(OpenObjectFileHook hook) {
  g_open_object_file_hook.store(hook, std::memory_order_release);
}

void InstallSymbolizeHook(SymbolizeHook hook) {
  g_symbolize_hook.store(hook, std::memory_order_release);
}

}  // namespace debug
}  // namespace kelmbase
