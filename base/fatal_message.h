#ifndef BASE_FATAL_MESSAGE_H_
#define BASE_FATAL_MESSAGE_H_

#include <cstddef>

namespace base {

// Keeps the text of the FATAL record that is ending the process, for a
// debugger or a core file to find. The logging library calls it with the
// record's whole text: `size` counts the newline and the terminating NUL.
// At most 510 text bytes are kept, then a newline (unless the text already
// ends with one) and a NUL. Takes no lock: the process is about to end.
void SaveFatalMessage(const char* record, size_t size);

// The kept text, or null when no fatal record was seen.
const char* SavedFatalMessage();

}  // namespace base

#endif  // BASE_FATAL_MESSAGE_H_
