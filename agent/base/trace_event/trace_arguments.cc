#include "agent/base/trace_event/trace_arguments.h"

#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "agent/base/json/string_escape.h"
#include "agent/base/strings/string_number_conversions.h"
#include "agent/base/strings/string_printf.h"
#include "agent/base/trace_event/trace_event_memory_overhead.h"
#include "logging/check.h"

namespace kelmbase {
namespace trace_event {

bool ConvertableToTraceFormat::AppendToProto(protozero::Message*) const {
  return false;
}

void ConvertableToTraceFormat::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) const {
  overhead->Add(TraceEventMemoryOverhead::kConvertableToTraceFormat,
                sizeof(*this));
}

// --- TraceStringStorage --------------------------------------------------

void TraceStringStorage::Reset(size_t size) {
  if (size == 0) {
    free(block_);
    block_ = nullptr;
    return;
  }
  if (block_ != nullptr && this->size() == size)
    return;
  void* grown = realloc(block_, sizeof(size_t) + size);
  CHECK(grown != nullptr);
  block_ = grown;
  memcpy(block_, &size, sizeof(size));
}

void TraceStringStorage::MoveFrom(TraceStringStorage* other) {
  if (this == other)
    return;
  Reset(0);
  block_ = other->block_;
  other->block_ = nullptr;
}

size_t TraceStringStorage::size() const {
  if (block_ == nullptr)
    return 0;
  size_t size;
  memcpy(&size, block_, sizeof(size));
  return size;
}

char* TraceStringStorage::data() const {
  if (block_ == nullptr)
    return nullptr;
  return static_cast<char*>(block_) + sizeof(size_t);
}

size_t TraceStringStorage::EstimateMemoryUsage() const {
  return block_ == nullptr ? 0 : sizeof(size_t) + size();
}

// --- TraceArgumentSet ----------------------------------------------------

TraceArgumentSet::TraceArgumentSet(TraceArgumentSet&& other) noexcept {
  *this = std::move(other);
}

TraceArgumentSet& TraceArgumentSet::operator=(
    TraceArgumentSet&& other) noexcept {
  if (this == &other)
    return *this;
  Reset();
  count_ = other.count_;
  for (size_t i = 0; i < kMaxSize; ++i) {
    kinds_[i] = other.kinds_[i];
    names_[i] = other.names_[i];
    values_[i] = other.values_[i];
  }
  // The owned values now belong to this set.
  other.count_ = 0;
  return *this;
}

TraceArgumentSet::Value& TraceArgumentSet::Append(const char* name,
                                                  Kind kind) {
  CHECK(count_ < kMaxSize);
  kinds_[count_] = kind;
  names_[count_] = name;
  values_[count_] = Value{};
  return values_[count_++];
}

void TraceArgumentSet::AddBool(const char* name, bool value) {
  Append(name, kBool).as_uint = value ? 1 : 0;
}
void TraceArgumentSet::AddUint(const char* name, uint64_t value) {
  Append(name, kUint).as_uint = value;
}
void TraceArgumentSet::AddInt(const char* name, int64_t value) {
  Append(name, kInt).as_int = value;
}
void TraceArgumentSet::AddDouble(const char* name, double value) {
  Append(name, kDouble).as_double = value;
}
void TraceArgumentSet::AddPointer(const char* name, const void* value) {
  Append(name, kPointer).as_pointer = value;
}
void TraceArgumentSet::AddString(const char* name, const char* value) {
  Append(name, kString).as_string = value;
}
void TraceArgumentSet::AddCopiedString(const char* name, const char* value) {
  Append(name, kCopiedString).as_string = value;
}
void TraceArgumentSet::AddConvertable(
    const char* name, std::unique_ptr<ConvertableToTraceFormat> value) {
  Append(name, kConvertable).as_convertable = value.release();
}
void TraceArgumentSet::AddMessage(const char* name,
                                  std::unique_ptr<TraceArgumentMessage> value) {
  Append(name, kMessage).as_message = value.release();
}

void TraceArgumentSet::ReleaseValues() {
  for (size_t i = 0; i < count_; ++i) {
    if (kinds_[i] == kConvertable)
      delete values_[i].as_convertable;
    else if (kinds_[i] == kMessage)
      delete values_[i].as_message;
    kinds_[i] = kNone;
    values_[i] = Value{};
  }
  count_ = 0;
}

void TraceArgumentSet::CopyStringsTo(TraceStringStorage* storage,
                                     bool copy_all, const char** name,
                                     const char** scope) {
  // The common case: nothing to copy and no block to free.
  if (count_ == 0 && !copy_all) {
    if (!storage->empty())
      storage->Reset(0);
    return;
  }
  auto length_of = [](const char* text) -> size_t {
    return text == nullptr ? 0 : strlen(text) + 1;
  };

  size_t size = 0;
  if (copy_all) {
    for (size_t i = 0; i < count_; ++i) {
      if (kinds_[i] == kString)
        kinds_[i] = kCopiedString;
    }
    size += length_of(*name) + length_of(*scope);
    for (size_t i = 0; i < count_; ++i)
      size += length_of(names_[i]);
  }
  for (size_t i = 0; i < count_; ++i) {
    if (kinds_[i] == kCopiedString)
      size += length_of(values_[i].as_string);
  }

  storage->Reset(size);
  if (size == 0)
    return;

  char* cursor = storage->data();
  auto copy = [&cursor](const char** field) {
    if (*field == nullptr)
      return;
    const size_t length = strlen(*field) + 1;
    memcpy(cursor, *field, length);
    *field = cursor;
    cursor += length;
  };
  if (copy_all) {
    copy(name);
    copy(scope);
    for (size_t i = 0; i < count_; ++i)
      copy(&names_[i]);
  }
  for (size_t i = 0; i < count_; ++i) {
    if (kinds_[i] == kCopiedString)
      copy(&values_[i].as_string);
  }
}

void TraceArgumentSet::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) const {
  for (size_t i = 0; i < count_; ++i) {
    if (kinds_[i] == kConvertable)
      values_[i].as_convertable->EstimateTraceMemoryOverhead(overhead);
  }
}

// --- JSON -----------------------------------------------------------------

namespace {

void AppendDouble(double value, std::string* out) {
  if (std::isnan(value)) {
    out->append("\"NaN\"");
    return;
  }
  if (std::isinf(value)) {
    out->append(value > 0 ? "\"Infinity\"" : "\"-Infinity\"");
    return;
  }
  std::string text = NumberToString(value);
  // Keep the value a floating-point number for JSON readers.
  if (text.find_first_of(".eE") == std::string::npos)
    text.append(".0");
  if (text[0] == '.')
    text.insert(0, "0");
  else if (text.size() > 1 && text[0] == '-' && text[1] == '.')
    text.insert(1, "0");
  out->append(text);
}

}  // namespace

void AppendArgumentAsJson(const TraceArgumentSet::Value& value,
                          TraceArgumentSet::Kind kind, std::string* out) {
  switch (kind) {
    case TraceArgumentSet::kBool:
      out->append(value.as_uint != 0 ? "true" : "false");
      return;
    case TraceArgumentSet::kUint:
      AppendFormat(out, "%" PRIu64, value.as_uint);
      return;
    case TraceArgumentSet::kInt:
      AppendFormat(out, "%" PRId64, value.as_int);
      return;
    case TraceArgumentSet::kDouble:
      AppendDouble(value.as_double, out);
      return;
    case TraceArgumentSet::kPointer:
      AppendFormat(out, "\"0x%" PRIxPTR "\"",
                   reinterpret_cast<uintptr_t>(value.as_pointer));
      return;
    case TraceArgumentSet::kString:
    case TraceArgumentSet::kCopiedString:
      AppendEscapedJsonString(
          value.as_string != nullptr ? value.as_string : "NULL", true, out);
      return;
    case TraceArgumentSet::kConvertable:
      value.as_convertable->AppendAsTraceFormat(out);
      return;
    case TraceArgumentSet::kMessage:
      AppendEscapedJsonString(value.as_message->bytes, true, out);
      return;
    case TraceArgumentSet::kNone:
      return;
  }
}

}  // namespace trace_event
}  // namespace kelmbase
