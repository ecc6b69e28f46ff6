#include "agent/base/command_line.h"

#include <atomic>

#include "agent/base/files/file_path.h"
#include "agent/base/strings/string_util.h"

namespace kelmbase {
namespace {

const char* const kSwitchPrefixes[] = {"--", "-"};
constexpr char kSwitchTerminator[] = "--";
constexpr char kSwitchValueSeparator = '=';

std::atomic<CommandLine*> g_current{nullptr};

size_t SwitchPrefixLength(StringPiece text) {
  for (StringPiece prefix : kSwitchPrefixes) {
    if (StartsWith(text, prefix, CaseMode::kExact)) return prefix.size();
  }
  return 0;
}

// Splits "--name=value" into "--name" and "value". False when the text has
// no prefix or is nothing but a prefix.
bool ParseSwitch(const std::string& text, std::string* name,
                 std::string* value) {
  name->clear();
  value->clear();
  const size_t prefix_length = SwitchPrefixLength(text);
  if (prefix_length == 0 || prefix_length == text.size()) return false;
  const size_t separator = text.find(kSwitchValueSeparator);
  if (separator == std::string::npos) {
    *name = text;
    return true;
  }
  *name = text.substr(0, separator);
  *value = text.substr(separator + 1);
  return true;
}

std::string TrimWhitespace(StringPiece text) {
  std::string trimmed;
  TrimAsciiWhitespace(text, kTrimAll, &trimmed);
  return trimmed;
}

}  // namespace

CommandLine::CommandLine() : argv_(1), begin_args_(1) {}

bool CommandLine::Init(int argc, const char* const* argv) {
  if (g_current.load(std::memory_order_acquire) != nullptr) return false;
  CommandLine* command_line = new CommandLine();
  CommandLine* expected = nullptr;
  if (!g_current.compare_exchange_strong(expected, command_line,
                                         std::memory_order_acq_rel)) {
    delete command_line;
    return false;
  }
  command_line->SetFromArgvArray(argc, argv);
  return true;
}

CommandLine* CommandLine::Current() {
  return g_current.load(std::memory_order_acquire);
}

bool CommandLine::IsInitialized() { return Current() != nullptr; }

void CommandLine::ResetForTesting() {
  delete g_current.exchange(nullptr, std::memory_order_acq_rel);
}

void CommandLine::SetFromArgvArray(int argc, const char* const* argv) {
  std::vector<std::string> args;
  args.reserve(argc > 0 ? static_cast<size_t>(argc) : 0);
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
  SetFromArgv(args);
}

void CommandLine::SetFromArgv(const std::vector<std::string>& argv) {
  argv_.assign(1, std::string());
  switches_.clear();
  begin_args_ = 1;
  if (argv.empty()) return;
  argv_[0] = TrimWhitespace(FilePath(argv[0]).value());
  ParseArgv(argv);
}

void CommandLine::ParseArgv(const std::vector<std::string>& argv) {
  bool parse_switches = true;
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::string arg = TrimWhitespace(argv[i]);
    if (arg == kSwitchTerminator) parse_switches = false;
    std::string name;
    std::string value;
    if (parse_switches && ParseSwitch(arg, &name, &value)) {
      AppendSwitch(name, value);
    } else {
      AppendArgument(arg);
    }
  }
}

bool CommandLine::HasSwitch(const char* name) const {
  return switches_.find(StringPiece(name)) != switches_.end();
}

std::string CommandLine::GetSwitchValue(StringPiece name) const {
  auto it = switches_.find(name);
  return it == switches_.end() ? std::string() : it->second;
}

std::string CommandLine::GetAsciiSwitchValue(StringPiece name) const {
  std::string value = GetSwitchValue(name);
  return IsAscii(value) ? value : std::string();
}

void CommandLine::AppendSwitch(StringPiece name, StringPiece value) {
  const size_t prefix_length = SwitchPrefixLength(name);
  switches_[name.substr(prefix_length).ToString()] = value.ToString();
  std::string text = prefix_length == 0 ? "--" : "";
  text.append(name.data(), name.size());
  if (!value.empty()) {
    text += kSwitchValueSeparator;
    text.append(value.data(), value.size());
  }
  argv_.insert(argv_.begin() + static_cast<std::ptrdiff_t>(begin_args_),
               std::move(text));
  ++begin_args_;
}

void CommandLine::AppendArgument(StringPiece arg) {
  argv_.push_back(arg.ToString());
}

std::vector<std::string> CommandLine::GetArgs() const {
  return std::vector<std::string>(
      argv_.begin() + static_cast<std::ptrdiff_t>(begin_args_), argv_.end());
}

}  // namespace kelmbase
