#ifndef AGENT_BASE_DEBUG_ELF_READER_H_
#define AGENT_BASE_DEBUG_ELF_READER_H_

#include <elf.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace kelmbase {
namespace debug {

// Lookups in 64-bit ELF object files through a descriptor, for the
// symbolizer. They read with pread(2) into fixed buffers on the stack,
// allocate nothing and take no lock, so they may run in a signal handler.
// The file may be anything: every size and offset read from it is checked
// before it is used.

// Reads up to `count` bytes at `offset`, retrying when interrupted, until
// all are read or the file ends. Returns the number read (fewer at the end
// of the file), or -1 on an error.
ssize_t ReadAtOffset(int fd, void* buffer, size_t count, off_t offset);

// Finds the first of `section_count` section headers at `section_offset`
// whose type is `type`, reading them 16 at a time. False on a read error, a
// read that yields no complete header, or no such section.
bool FindSectionByType(int fd, size_t section_count, off_t section_offset,
                       uint32_t type, Elf64_Shdr* out);

// Finds the first symbol of `symbol_table` that is defined, has a nonzero
// value and covers `pc` once moved by `load_bias`, and copies its name from
// `string_table` into `out` (`out_size` bytes). False when no symbol
// matches, on a read error, when the name and its NUL do not fit, and when
// the table's entry size is not that of an ELF symbol (a size of 0 or a
// stride that would misread the table gives no result rather than a crash).
bool FindSymbolForPc(uint64_t pc, int fd, char* out, size_t out_size,
                     uint64_t load_bias, const Elf64_Shdr& string_table,
                     const Elf64_Shdr& symbol_table);

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_ELF_READER_H_
