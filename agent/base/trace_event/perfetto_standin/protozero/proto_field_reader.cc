#include "agent/base/trace_event/perfetto_standin/protozero/proto_field_reader.h"

namespace protozero {

namespace {

bool ReadVarInt(const std::string& in, size_t* pos, uint64_t* value) {
  *value = 0;
  for (int shift = 0; shift < 64 && *pos < in.size(); shift += 7) {
    const uint8_t byte = static_cast<uint8_t>(in[(*pos)++]);
    *value |= uint64_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80) == 0)
      return true;
  }
  return false;
}

}  // namespace

ProtoFieldReader::ProtoFieldReader(const std::string& bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    uint64_t key;
    if (!ReadVarInt(bytes, &pos, &key)) {
      ok_ = false;
      return;
    }
    Field field{static_cast<uint32_t>(key >> 3), false, 0, std::string()};
    switch (key & 7) {
      case 0:
        field.is_varint = true;
        if (!ReadVarInt(bytes, &pos, &field.varint)) {
          ok_ = false;
          return;
        }
        break;
      case 2: {
        uint64_t size;
        if (!ReadVarInt(bytes, &pos, &size) || size > bytes.size() - pos) {
          ok_ = false;
          return;
        }
        field.bytes = bytes.substr(pos, size);
        pos += size;
        break;
      }
      default:
        ok_ = false;
        return;
    }
    fields_.push_back(std::move(field));
  }
}

const ProtoFieldReader::Field* ProtoFieldReader::Find(uint32_t id) const {
  for (const Field& field : fields_) {
    if (field.id == id)
      return &field;
  }
  return nullptr;
}

std::vector<const ProtoFieldReader::Field*> ProtoFieldReader::FindAll(
    uint32_t id) const {
  std::vector<const Field*> found;
  for (const Field& field : fields_) {
    if (field.id == id)
      found.push_back(&field);
  }
  return found;
}

}  // namespace protozero
