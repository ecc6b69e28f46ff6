#ifndef AGENT_BASE_JSON_JSON_WRITER_H_
#define AGENT_BASE_JSON_JSON_WRITER_H_

#include <cstddef>
#include <string>

namespace kelmbase {

class Value;

namespace internal {
// The deepest nesting a writer may be asked to allow.
constexpr size_t kAbsoluteMaxDepth = 200;
}  // namespace internal

// Writes a Value tree as JSON text.
//
// Dictionaries are written in key order and lists in element order; strings
// are escaped by AppendEscapedJsonString; a double that prints without a
// '.' or an exponent gets ".0" appended, so that it reads back as a double
// (3.0 is written "3.0", 1e21 "1e+21"). A container nested `max_depth` deep
// (counting the outermost as 1) is not written and fails the write, so with
// the usual maximum of 200 containers may nest 199 deep.
//
// With kPrettyPrint, a dictionary puts each entry on its own line indented
// by three spaces per level, with a space after the colon; a list stays on
// one line with spaces inside its brackets ("[ 1, 2 ]"); the text ends with
// a newline.
class JsonWriter {
 public:
  enum Options {
    // Skip BINARY values (with their dictionary keys) instead of failing.
    kOmitBinaryValues = 1 << 0,
    // Write integral doubles in [-2^63, 2^63) as integers ("3", not "3.0").
    kOmitDoubleTypePreservation = 1 << 1,
    // Human-readable layout, described above.
    kPrettyPrint = 1 << 2,
  };

  // WriteWithFlags() without options.
  static bool Write(const Value& node, std::string* json,
                    size_t max_depth = internal::kAbsoluteMaxDepth);

  // Replaces `*json` with the JSON text of `node`. Returns false when the
  // tree holds a BINARY value (without kOmitBinaryValues) or containers
  // nested too deep; what was written up to then stays in `*json`. Also a
  // failed pretty-printed write ends with the newline. `options` is an OR
  // of Options. `max_depth` must not exceed internal::kAbsoluteMaxDepth
  // (fatal CHECK).
  static bool WriteWithFlags(const Value& node, int options, std::string* json,
                             size_t max_depth = internal::kAbsoluteMaxDepth);

  // A writer that appends to `*json`; used by the functions above, which
  // are the usual way in. `max_depth` must not exceed
  // internal::kAbsoluteMaxDepth (fatal CHECK).
  JsonWriter(int options, std::string* json, size_t max_depth);

  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  // Appends the text of `node` as a member of nesting level `level`, which
  // sets its indentation when pretty-printing. True unless a BINARY value or
  // too deep a container was met.
  bool AppendValue(const Value& node, size_t level);

 private:
  bool AppendDouble(double value);
  bool AppendDictionary(const Value& node, size_t level);
  bool AppendList(const Value& node, size_t level);
  void AppendIndentation(size_t level);

  bool omit_binary_values_;
  bool omit_double_type_preservation_;
  bool pretty_print_;
  std::string* json_;
  size_t max_depth_;
  size_t depth_ = 0;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_JSON_JSON_WRITER_H_
