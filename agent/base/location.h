#ifndef AGENT_BASE_LOCATION_H_
#define AGENT_BASE_LOCATION_H_

#include <cstdint>
#include <string>

namespace kelmbase {

// Where in the source a task was posted, a blocking call made or a lock
// taken: function name, file name, line and the code address of the capture
// point. Refers to static literals only; copy freely between threads.
class Location {
 public:
  Location() = default;
  Location(const char* function_name, const char* file_name, int line_number,
           const void* program_counter);
  Location(const Location& other) = default;
  Location& operator=(const Location& other) = default;

  // Builds a Location for the caller. `file_name` is the compile-time path;
  // its leading "third_party/ambrel/agent/" is dropped when present, so the
  // name is relative to the agent source folder. The program counter is the
  // return address of this out-of-line call, so each capture point has its
  // own.
  static Location Capture(const char* function_name, const char* file_name,
                          int line_number);

  const char* function_name() const { return function_name_; }
  const char* file_name() const { return file_name_; }
  int line_number() const { return line_number_; }
  const void* program_counter() const { return program_counter_; }

  // "<function>@<file>:<line>", or "pc:<address>" when the function or the
  // file name is missing.
  std::string ToString() const;

 private:
  const char* function_name_ = nullptr;
  const char* file_name_ = nullptr;
  int32_t line_number_ = -1;
  const void* program_counter_ = nullptr;
};

namespace internal {
const void* StripPointerAuthentication(const void* address);
}  // namespace internal

// The return address of the function that calls this one (the address its
// caller continues at), with pointer-authentication bits cleared. Identifies
// a caller cheaply; always inlined so that it reads the right frame.
__attribute__((always_inline)) inline const void* GetCallerAddress() {
  return internal::StripPointerAuthentication(__builtin_return_address(0));
}

}  // namespace kelmbase

// The Location of the point where it is written.
#define FROM_HERE ::kelmbase::Location::Capture(__func__, __FILE__, __LINE__)

#endif  // AGENT_BASE_LOCATION_H_
