#ifndef AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_PROTOZERO_MESSAGE_H_
#define AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_PROTOZERO_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace protozero {

// Writes one protocol-buffer message field by field (wire format: varint
// keys, varint values, length-delimited strings and nested messages).
// Nested messages are written into their own buffer and appended to their
// parent, length-prefixed, when the parent is finalised (or when they are
// finalised themselves). Not thread-safe; one writer at a time.
class Message {
 public:
  Message();
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  virtual ~Message();

  void AppendVarInt(uint32_t field_id, uint64_t value);
  // The bytes of `text` up to its NUL.
  void AppendString(uint32_t field_id, const char* text);
  void AppendBytes(uint32_t field_id, const void* data, size_t size);

  // A nested message of field `field_id`, owned by this one. It must be
  // finished (by finalising it or this message) before it is used again.
  template <typename T = Message>
  T* BeginNestedMessage(uint32_t field_id) {
    auto nested = std::make_unique<T>();
    T* raw = nested.get();
    AdoptNested(field_id, std::move(nested));
    return raw;
  }

  // Closes this message and its open nested messages; a nested message's
  // bytes are then appended to its parent. Further writes are ignored.
  // Returns the byte size of this message's payload.
  size_t Finalize();

  bool is_finalized() const { return finalized_; }
  // The payload written so far (nested messages only once finalised).
  const std::string& bytes() const { return bytes_; }
  // Forgets everything written; the message can be written again.
  void Reset();

 private:
  struct OpenNested {
    uint32_t field_id;
    std::unique_ptr<Message> message;
  };

  void AdoptNested(uint32_t field_id, std::unique_ptr<Message> nested);
  void FinalizeNested();

  std::string bytes_;
  std::vector<OpenNested> nested_;
  std::vector<std::unique_ptr<Message>> finished_;
  Message* parent_ = nullptr;
  uint32_t field_id_in_parent_ = 0;
  bool finalized_ = false;
};

// Appends the varint form of `value` to `out`.
void AppendVarIntTo(uint64_t value, std::string* out);

}  // namespace protozero

#endif  // AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_PROTOZERO_MESSAGE_H_
