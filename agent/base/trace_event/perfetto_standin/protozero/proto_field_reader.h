#ifndef AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_PROTOZERO_PROTO_FIELD_READER_H_
#define AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_PROTOZERO_PROTO_FIELD_READER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace protozero {

// Reads back what a Message wrote: the top-level fields of one message, in
// order. Varint and length-delimited fields only (the only kinds Message
// writes). Malformed input ends the list early and sets ok() false.
class ProtoFieldReader {
 public:
  struct Field {
    uint32_t id;
    bool is_varint;
    uint64_t varint;
    std::string bytes;  // length-delimited payload
  };

  explicit ProtoFieldReader(const std::string& bytes);

  bool ok() const { return ok_; }
  const std::vector<Field>& fields() const { return fields_; }
  // The first field numbered `id`, or null.
  const Field* Find(uint32_t id) const;
  // Every field numbered `id`.
  std::vector<const Field*> FindAll(uint32_t id) const;

 private:
  std::vector<Field> fields_;
  bool ok_ = true;
};

}  // namespace protozero

#endif  // AGENT_BASE_TRACE_EVENT_PERFETTO_STANDIN_PROTOZERO_PROTO_FIELD_READER_H_
