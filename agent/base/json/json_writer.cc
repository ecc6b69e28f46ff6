#include "agent/base/json/json_writer.h"

#include <cmath>
#include <cstdint>

#include "agent/base/json/string_escape.h"
#include "agent/base/strings/string_number_conversions.h"
#include "agent/base/values.h"
#include "logging/check.h"

namespace kelmbase {

namespace {

constexpr char kLineEnding[] = "\n";
constexpr size_t kIndentWidth = 3;
constexpr size_t kInitialReserve = 1024;

// 2^63: the doubles in [-2^63, 2^63) convert to int64 exactly.
constexpr double kTwoToThe63 = 9223372036854775808.0;

// Raises the writer's depth for one AppendValue call and lowers it again on
// every way out.
class DepthScope {
 public:
  explicit DepthScope(size_t* depth) : depth_(depth) { ++*depth_; }
  ~DepthScope() { --*depth_; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;

 private:
  size_t* depth_;
};

}  // namespace

// static
bool JsonWriter::Write(const Value& node, std::string* json,
                       size_t max_depth) {
  return WriteWithFlags(node, 0, json, max_depth);
}

// static
bool JsonWriter::WriteWithFlags(const Value& node, int options,
                                std::string* json, size_t max_depth) {
  json->clear();
  json->reserve(kInitialReserve);
  JsonWriter writer(options, json, max_depth);
  bool result = writer.AppendValue(node, 0);
  if (options & kPrettyPrint) json->append(kLineEnding);
  return result;
}

JsonWriter::JsonWriter(int options, std::string* json, size_t max_depth)
    : omit_binary_values_((options & kOmitBinaryValues) != 0),
      omit_double_type_preservation_(
          (options & kOmitDoubleTypePreservation) != 0),
      pretty_print_((options & kPrettyPrint) != 0),
      json_(json),
      max_depth_(max_depth) {
  CHECK_LE(max_depth, internal::kAbsoluteMaxDepth);
}

bool JsonWriter::AppendValue(const Value& node, size_t level) {
  DepthScope depth_scope(&depth_);
  switch (node.type()) {
    case Value::Type::NONE:
      json_->append("null");
      return true;
    case Value::Type::BOOLEAN:
      json_->append(node.GetBool() ? "true" : "false");
      return true;
    case Value::Type::INTEGER:
      json_->append(NumberToString(node.GetInt()));
      return true;
    case Value::Type::DOUBLE:
      return AppendDouble(node.GetDouble());
    case Value::Type::STRING:
      // Ill-formed UTF-8 is written as U+FFFD; the text is still valid JSON.
      AppendEscapedJsonString(node.GetString(), true, json_);
      return true;
    case Value::Type::BINARY:
      return omit_binary_values_;
    case Value::Type::DICTIONARY:
      return AppendDictionary(node, level);
    case Value::Type::LIST:
      return AppendList(node, level);
  }
  return false;
}

bool JsonWriter::AppendDouble(double value) {
  if (omit_double_type_preservation_ && value == std::floor(value) &&
      value >= -kTwoToThe63 && value < kTwoToThe63) {
    json_->append(NumberToString(static_cast<int64_t>(value)));
    return true;
  }
  std::string text = NumberToString(value);
  // Keep the value a double for readers that tell integers from doubles.
  if (text.find_first_of(".eE") == std::string::npos) text.append(".0");
  // JSON numbers need a digit before the point.
  if (!text.empty() && text[0] == '.') {
    text.insert(0, "0");
  } else if (text.size() > 1 && text[0] == '-' && text[1] == '.') {
    text.insert(1, "0");
  }
  json_->append(text);
  return true;
}

bool JsonWriter::AppendDictionary(const Value& node, size_t level) {
  if (depth_ >= max_depth_) return false;

  json_->push_back('{');
  if (pretty_print_) json_->append(kLineEnding);

  bool result = true;
  bool first = true;
  for (const auto& [key, value] : node.GetDict()) {
    if (omit_binary_values_ && value->is_blob()) continue;
    if (!first) {
      json_->push_back(',');
      if (pretty_print_) json_->append(kLineEnding);
    }
    first = false;
    if (pretty_print_) AppendIndentation(level + 1);
    AppendEscapedJsonString(key, true, json_);
    json_->push_back(':');
    if (pretty_print_) json_->push_back(' ');
    // A failed entry fails the whole write, but the rest is still written.
    if (!AppendValue(*value, level + 1)) result = false;
  }

  if (pretty_print_) {
    json_->append(kLineEnding);
    AppendIndentation(level);
  }
  json_->push_back('}');
  return result;
}

bool JsonWriter::AppendList(const Value& node, size_t level) {
  if (depth_ >= max_depth_) return false;

  json_->push_back('[');
  if (pretty_print_) json_->push_back(' ');

  bool result = true;
  bool first = true;
  for (const Value& element : node.GetList()) {
    if (omit_binary_values_ && element.is_blob()) continue;
    if (!first) {
      json_->push_back(',');
      if (pretty_print_) json_->push_back(' ');
    }
    first = false;
    // The elements of a list stay on the list's own level.
    if (!AppendValue(element, level)) result = false;
  }

  if (pretty_print_) json_->push_back(' ');
  json_->push_back(']');
  return result;
}

void JsonWriter::AppendIndentation(size_t level) {
  json_->append(level * kIndentWidth, ' ');
}

}  // namespace kelmbase
