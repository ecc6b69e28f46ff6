#ifndef DEVTOOLS_BUILD_RUNTIME_GET_RUNFILES_DIR_H_
#define DEVTOOLS_BUILD_RUNTIME_GET_RUNFILES_DIR_H_

#include <memory>
#include <string>

#include "agent/base/strings/string_piece.h"

namespace devtools_build {

// The absolute path of the running program, taken from the kernel's
// AT_EXECFN, else the invocation name; the variable
// PLOVEX3_NATIVE_CODE_DEPS_DSO names the program instead when neither gives
// one, or when the program is the runtime's own Python interpreter.
std::string GetProgramPath();

// The path of `relative` inside the runfiles tree shipped beside the
// program. Ends the process if no accessible runfiles directory is found.
std::string GetRunfilesPath(kelmbase::StringPiece relative);

namespace internal {

// What the runfiles lookup asks of the operating system; replaceable so the
// lookup rules can be exercised without a real program layout.
class OsInterface {
 public:
  virtual ~OsInterface();

  // Whether `path` is a directory that can be listed and entered.
  virtual bool IsDirectoryAccessible(const std::string& path) const = 0;
  // The working directory; ends the process if it cannot be had.
  virtual std::string GetCwd() const = 0;
  // The value of environment variable `name`, or null.
  virtual const char* GetEnv(const char* name) const = 0;
  // The target of the symbolic link `path`, or the empty string if `path`
  // is not a link. Ends the process if `path` cannot be examined.
  virtual std::string ReadSymlink(const std::string& path) const = 0;
  // Reserved; does nothing.
  virtual void Reserved() const;
};

// The lookup over the real file system and process environment.
std::unique_ptr<OsInterface> NewPosixEnvironment();

// GetProgramPath with its sources given: `execfn` is the AT_EXECFN entry and
// `invocation_name` the name the program was invoked by (either may be
// null).
std::string GetProgramPath(const char* execfn, const char* invocation_name,
                           const OsInterface* os_helper);

// The runfiles directory of the program at `program_path`: the first
// accessible of "<program>.runfiles", the runfiles directory that a
// program inside a runfiles tree lives in, the directory above a
// "/plovex3/" component, and finally the parent of the working directory.
// Ends the process if the outcome is not accessible.
std::string GetRunfilesDir(const std::string& program_path,
                           const OsInterface* os_helper);

}  // namespace internal

}  // namespace devtools_build

#endif  // DEVTOOLS_BUILD_RUNTIME_GET_RUNFILES_DIR_H_
