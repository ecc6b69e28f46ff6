#include "agent/base/trace_event/perfetto_standin/protozero/message.h"

#include <string>

#include "agent/base/trace_event/perfetto_standin/protozero/proto_field_reader.h"
#include "agent/base/trace_event/perfetto_standin/tracing/trace_packet_writer.h"
#include "gtest/gtest.h"

namespace protozero {
namespace {

TEST(ProtozeroMessageTest, WritesWireFormatThatTheReaderReadsBack) {
  Message message;
  message.AppendVarInt(1, 300);  // Two varint bytes: AC 02.
  message.AppendString(2, "ab");
  Message* nested = message.BeginNestedMessage(33);
  nested->AppendVarInt(1, 7);
  message.Finalize();

  EXPECT_EQ(message.bytes(), std::string("\x08\xAC\x02\x12\x02" "ab"
                                         "\x8A\x02\x02\x08\x07", 12));
  ProtoFieldReader reader(message.bytes());
  ASSERT_TRUE(reader.ok());
  ASSERT_EQ(reader.fields().size(), 3u);
  EXPECT_EQ(reader.Find(1)->varint, 300u);
  EXPECT_EQ(reader.Find(2)->bytes, "ab");
  ProtoFieldReader inner(reader.Find(33)->bytes);
  EXPECT_EQ(inner.Find(1)->varint, 7u);
}

TEST(ProtozeroMessageTest, WritesAfterFinalizeAreIgnored) {
  Message message;
  Message* nested = message.BeginNestedMessage(5);
  nested->AppendVarInt(1, 1);
  nested->Finalize();
  nested->AppendVarInt(2, 2);  // Too late: already in the parent.
  message.Finalize();
  message.AppendVarInt(3, 3);
  EXPECT_EQ(message.bytes(), std::string("\x2A\x02\x08\x01", 4));
}

TEST(ProtozeroMessageTest, ReaderRejectsTruncatedInput) {
  ProtoFieldReader reader(std::string("\x12\x05" "ab", 4));
  EXPECT_FALSE(reader.ok());
}

TEST(TracePacketWriterTest, AppendsInternedDataToThePacketThatGathered) {
  perfetto::TracePacketWriter writer;
  protozero::Message* packet = writer.NewPacket();
  packet->AppendVarInt(1, 1);
  writer.incremental_state()->serialized_interned_data.AppendVarInt(4, 9);
  writer.NewPacket()->AppendVarInt(1, 2);
  writer.FinishPacket();

  ASSERT_EQ(writer.packets().size(), 2u);
  ProtoFieldReader first(writer.packets()[0]);
  ASSERT_NE(first.Find(12), nullptr);
  EXPECT_EQ(ProtoFieldReader(first.Find(12)->bytes).Find(4)->varint, 9u);
  EXPECT_EQ(ProtoFieldReader(writer.packets()[1]).Find(12), nullptr);
}

}  // namespace
}  // namespace protozero
