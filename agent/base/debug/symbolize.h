#ifndef AGENT_BASE_DEBUG_SYMBOLIZE_H_
#define AGENT_BASE_DEBUG_SYMBOLIZE_H_

#include <cstddef>
#include <cstdint>

namespace kelmbase {
namespace debug {

// Turns a program address into a symbol name without the C library's
// loader data: it finds the mapping that holds the address in
// /proc/self/maps, the object's load bias from its ELF header in
// /proc/self/mem, and the symbol in the object file's own symbol tables
// (the full table, else the dynamic one), then demangles the name.
//
// Every call opens and closes the files it needs and keeps all its buffers
// on the stack (about 4 KiB plus the demangler's): no heap, no lock, no
// buffered output. It may run on any thread and in a signal handler, and
// does not change errno. Speed is not a goal.

// Writes the symbol text of `pc` into `out` (`out_size` bytes, NUL
// included) and returns true; false when nothing is known about `pc` (no
// executable mapping holds it, or its object has no symbol covering it). An
// address in an object whose file cannot be opened gives "(<path>+0x<offset
// from the load bias>)". A negative `out_size` is a fatal error.
bool SymbolizePc(uint64_t pc, char* out, int out_size);

// Finds the first executable mapping that holds `pc` and opens its file.
// Returns the descriptor, or -1; `*start_address` receives the mapping's
// start and `*base_address` the object's load bias (from the object's first
// mapping: the start address for a shared object or position-independent
// executable, corrected by its first loadable segment; 0 for a fixed-address
// executable). When the mapped file cannot be opened, its path is copied
// into `out_file_name` (truncated, NUL-terminated) and -1 returned.
int OpenObjectFileForPc(uint64_t pc, uint64_t* start_address,
                        uint64_t* base_address, char* out_file_name,
                        size_t out_file_name_size);

// Reads hexadecimal digits (0-9, a-f, A-F) at `text` into `*value` and
// returns a pointer to the first other character (`text` itself when there
// is no digit).
const char* ParseHexField(const char* text, uint64_t* value);

// Replaces the search for the object file of an address; same contract as
// OpenObjectFileForPc.
using OpenObjectFileHook = int (*)(uint64_t pc, uint64_t* start_address,
                                   uint64_t* base_address, char* out_file_name,
                                   size_t out_file_name_size);

// Called with the opened object file before its symbols are searched; may
// write a prefix of at most `out_size` - 1 bytes into `out` and returns the
// number of bytes written (the symbol name follows them).
using SymbolizeHook = int (*)(int fd, uint64_t pc, char* out, size_t out_size,
                              uint64_t load_bias);

// Install a hook (null removes it). Process-wide; install before any
// thread may symbolize. Nothing in this program installs one.
void InstallOpenObjectFileHook(OpenObjectFileHook hook);
void InstallSymbolizeHook(SymbolizeHook hook);

}  // namespace debug
}  // namespace kelmbase

#endif  // AGENT_BASE_DEBUG_SYMBOLIZE_H_
