#include "agent/base/trace_event/perfetto_standin/tracing/trace_packet_writer.h"

namespace perfetto {

TracePacketWriter::TracePacketWriter() = default;

TracePacketWriter::~TracePacketWriter() {
  FinishPacket();
}

protozero::Message* TracePacketWriter::NewPacket() {
  FinishPacket();
  packet_ = std::make_unique<protozero::Message>();
  return packet_.get();
}

void TracePacketWriter::FinishPacket() {
  if (!packet_)
    return;
  protozero::Message& interned = incremental_state_.serialized_interned_data;
  interned.Finalize();
  if (!interned.bytes().empty()) {
    packet_->AppendBytes(kInternedDataFieldNumber, interned.bytes().data(),
                         interned.bytes().size());
  }
  interned.Reset();
  packet_->Finalize();
  packets_.push_back(packet_->bytes());
  packet_.reset();
}

}  // namespace perfetto
