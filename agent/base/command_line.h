#ifndef AGENT_BASE_COMMAND_LINE_H_
#define AGENT_BASE_COMMAND_LINE_H_

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// The process's parsed command line: the program, the switches with their
// values and the plain arguments. A switch is "--" or "-" followed by its
// name, optionally "=" and a value; a bare "--" ends switch parsing and it
// and everything after it are plain arguments. Every well-formed switch is
// recorded; the last occurrence of a switch gives its value. Arguments are
// trimmed of ASCII whitespace first. Nothing is ever an error.
//
// The process-wide instance is made once by Init and never destroyed. It is
// not changed after Init, so other threads may read it.
class CommandLine {
 public:
  using SwitchMap = std::map<std::string, std::string, std::less<>>;

  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // Creates and parses the process-wide instance. Returns false, changing
  // nothing, when it already exists.
  static bool Init(int argc, const char* const* argv);

  // The process-wide instance, or null before Init.
  static CommandLine* Current();

  // Whether Init has run.
  static bool IsInitialized();

  // Test hook: destroys the process-wide instance, so that Init may run
  // again. Only while no other thread uses it and nobody keeps a pointer to
  // it.
  static void ResetForTesting();

  // Replaces the contents with `argc` NUL-terminated strings.
  void SetFromArgvArray(int argc, const char* const* argv);

  // Replaces the contents: element 0 is the program, the rest are parsed.
  void SetFromArgv(const std::vector<std::string>& argv);

  // Whether the switch `name` (without prefix, case-sensitive) was given.
  bool HasSwitch(const char* name) const;

  // The switch's value; empty when absent or given without a value.
  std::string GetSwitchValue(StringPiece name) const;

  // GetSwitchValue, but empty when the value has a byte outside ASCII.
  std::string GetAsciiSwitchValue(StringPiece name) const;

  // Records `name` (with or without its prefix) with `value`.
  void AppendSwitch(StringPiece name, StringPiece value);

  // Appends a plain argument.
  void AppendArgument(StringPiece arg);

  // The program, then every recorded switch in its normalised text form
  // ("--name" or "--name=value", a given single-dash prefix kept), then the
  // plain arguments.
  const std::vector<std::string>& argv() const { return argv_; }
  const SwitchMap& switches() const { return switches_; }
  const std::string& GetProgram() const { return argv_[0]; }

  // The plain arguments, in order.
  std::vector<std::string> GetArgs() const;

 private:
  CommandLine();

  void ParseArgv(const std::vector<std::string>& argv);

  std::vector<std::string> argv_;
  SwitchMap switches_;
  size_t begin_args_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_COMMAND_LINE_H_
