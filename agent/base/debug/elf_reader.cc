#include "agent/base/debug/elf_reader.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

namespace kelmbase {
namespace debug {

ssize_t ReadAtOffset(int fd, void* buffer, size_t count, off_t offset) {
  if (offset < 0) return -1;
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = pread(fd, out + done, count - done,
                            offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool FindSectionByType(int fd, size_t section_count, off_t section_offset,
                       uint32_t type, Elf64_Shdr* out) {
  constexpr size_t kChunk = 16;
  Elf64_Shdr headers[kChunk];
  for (size_t i = 0; i < section_count;) {
    const size_t wanted =
        section_count - i < kChunk ? section_count - i : kChunk;
    const ssize_t n = ReadAtOffset(
        fd, headers, wanted * sizeof(Elf64_Shdr),
        section_offset + static_cast<off_t>(i * sizeof(Elf64_Shdr)));
    if (n < 0) return false;
    const size_t complete = static_cast<size_t>(n) / sizeof(Elf64_Shdr);
    if (complete == 0) return false;
    for (size_t j = 0; j < complete; ++j) {
      if (headers[j].sh_type == type) {
        *out = headers[j];
        return true;
      }
    }
    i += complete;
  }
  return false;
}

bool FindSymbolForPc(uint64_t pc, int fd, char* out, size_t out_size,
                     uint64_t load_bias, const Elf64_Shdr& string_table,
                     const Elf64_Shdr& symbol_table) {
  if (out_size == 0) return false;
  out[0] = '\0';
  // The table is read with the symbol's own stride; any other entry size
  // (0 included) would divide by zero or misread every entry.
  if (symbol_table.sh_entsize != sizeof(Elf64_Sym)) return false;
  const size_t symbol_count = symbol_table.sh_size / sizeof(Elf64_Sym);

  constexpr size_t kChunk = 32;
  Elf64_Sym symbols[kChunk];
  for (size_t i = 0; i < symbol_count;) {
    const size_t wanted = symbol_count - i < kChunk ? symbol_count - i : kChunk;
    const uint64_t offset = symbol_table.sh_offset + i * sizeof(Elf64_Sym);
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    const ssize_t n = ReadAtOffset(fd, symbols, wanted * sizeof(Elf64_Sym),
                                   static_cast<off_t>(offset));
    if (n < 0) return false;
    const size_t complete = static_cast<size_t>(n) / sizeof(Elf64_Sym);
    if (complete == 0) return false;
    for (size_t j = 0; j < complete; ++j) {
      const Elf64_Sym& symbol = symbols[j];
      if (symbol.st_value == 0 || symbol.st_shndx == SHN_UNDEF) continue;
      const uint64_t start = symbol.st_value + load_bias;
      if (pc < start || pc - start >= symbol.st_size) continue;
      const uint64_t name_offset = string_table.sh_offset + symbol.st_name;
      if (name_offset > static_cast<uint64_t>(INT64_MAX)) return false;
      const ssize_t length =
          ReadAtOffset(fd, out, out_size, static_cast<off_t>(name_offset));
      if (length <= 0 ||
          memchr(out, '\0', static_cast<size_t>(length)) == nullptr) {
        // No name, or one too long for `out`.
        out[0] = '\0';
        return false;
      }
      return true;
    }
    i += complete;
  }
  return false;
}

}  // namespace debug
}  // namespace kelmbase
