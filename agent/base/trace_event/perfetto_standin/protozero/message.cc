#include "agent/base/trace_event/perfetto_standin/protozero/message.h"

#include <cstring>
#include <utility>

namespace protozero {

namespace {

constexpr uint32_t kWireTypeVarInt = 0;
constexpr uint32_t kWireTypeLengthDelimited = 2;

void AppendKey(uint32_t field_id, uint32_t wire_type, std::string* out) {
  AppendVarIntTo((uint64_t{field_id} << 3) | wire_type, out);
}

}  // namespace

void AppendVarIntTo(uint64_t value, std::string* out) {
  while (value >= 0x80) {
    out->push_back(static_cast<char>((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<char>(value));
}

Message::Message() = default;
Message::~Message() = default;

void Message::AppendVarInt(uint32_t field_id, uint64_t value) {
  if (finalized_)
    return;
  AppendKey(field_id, kWireTypeVarInt, &bytes_);
  AppendVarIntTo(value, &bytes_);
}

void Message::AppendString(uint32_t field_id, const char* text) {
  AppendBytes(field_id, text, strlen(text));
}

void Message::AppendBytes(uint32_t field_id, const void* data, size_t size) {
  if (finalized_)
    return;
  AppendKey(field_id, kWireTypeLengthDelimited, &bytes_);
  AppendVarIntTo(size, &bytes_);
  bytes_.append(static_cast<const char*>(data), size);
}

void Message::AdoptNested(uint32_t field_id, std::unique_ptr<Message> nested) {
  nested->parent_ = this;
  nested->field_id_in_parent_ = field_id;
  nested_.push_back(OpenNested{field_id, std::move(nested)});
}

void Message::FinalizeNested() {
  // Finalising a nested message appends it to us and moves it out of
  // `nested_`.
  while (!nested_.empty())
    nested_.front().message->Finalize();
}

size_t Message::Finalize() {
  if (finalized_)
    return bytes_.size();
  FinalizeNested();
  finalized_ = true;
  if (parent_ != nullptr && !parent_->finalized_) {
    Message* parent = parent_;
    parent->AppendBytes(field_id_in_parent_, bytes_.data(), bytes_.size());
    const size_t size = bytes_.size();
    // Kept alive until the parent is reset or destroyed, so the writer's
    // pointer stays valid.
    for (auto it = parent->nested_.begin(); it != parent->nested_.end(); ++it) {
      if (it->message.get() == this) {
        parent->finished_.push_back(std::move(it->message));
        parent->nested_.erase(it);
        break;
      }
    }
    return size;
  }
  return bytes_.size();
}

void Message::Reset() {
  nested_.clear();
  finished_.clear();
  bytes_.clear();
  finalized_ = false;
}

}  // namespace protozero
