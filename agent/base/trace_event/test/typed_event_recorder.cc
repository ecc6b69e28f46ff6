#include "agent/base/trace_event/test/typed_event_recorder.h"

#include "agent/base/trace_event/perfetto_standin/protozero/proto_field_reader.h"
#include "agent/base/trace_event/trace_event.h"
#include "agent/base/trace_event/trace_log.h"
#include "logging/check.h"

namespace kelmbase {
namespace trace_event {
namespace test {

namespace {

// The recorder's own packet layout.
constexpr uint32_t kPhaseField = 1;
constexpr uint32_t kNameField = 2;
constexpr uint32_t kCategoryField = 3;
constexpr uint32_t kEventField = 11;

TypedEventRecorder* g_recorder = nullptr;

}  // namespace

TypedEventRecorder::TypedEventRecorder() {
  CHECK(g_recorder == nullptr);
  g_recorder = this;
  SetTypedEventHook(&TypedEventRecorder::WriteEvent);
  TraceLog::GetInstance()->SetEnabled(TraceRecordingConfig(),
                                      TraceLog::kRecordingMode);
}

TypedEventRecorder::~TypedEventRecorder() {
  TraceLog::GetInstance()->SetDisabled(TraceLog::kRecordingMode);
  SetTypedEventHook(nullptr);
  g_recorder = nullptr;
}

// static
TypedEventHandle TypedEventRecorder::WriteEvent(TraceEvent* event) {
  TypedEventRecorder* recorder = g_recorder;
  recorder->lock_.Acquire();  // Released when the event completes.
  protozero::Message* packet = recorder->writer_.NewPacket();
  packet->AppendVarInt(kPhaseField, static_cast<uint8_t>(event->phase()));
  packet->AppendString(kNameField, event->name());
  packet->AppendString(kCategoryField, event->category()->category_name());
  protozero::Message* track_event = packet->BeginNestedMessage(kEventField);
  return TypedEventHandle(track_event, recorder->writer_.incremental_state(),
                          recorder);
}

void TypedEventRecorder::OnTypedEventCompleted() {
  writer_.FinishPacket();
  lock_.Release();
}

std::vector<TypedEventRecorder::Event> TypedEventRecorder::events() {
  ScopedLock lock(lock_);
  std::vector<Event> events;
  for (const std::string& packet : writer_.packets()) {
    const protozero::ProtoFieldReader reader(packet);
    Event event{static_cast<char>(reader.Find(kPhaseField)->varint),
                reader.Find(kNameField)->bytes,
                reader.Find(kCategoryField)->bytes,
                reader.Find(kEventField) ? reader.Find(kEventField)->bytes
                                         : std::string(),
                reader.Find(perfetto::TracePacketWriter::
                                kInternedDataFieldNumber)
                    ? reader.Find(perfetto::TracePacketWriter::
                                      kInternedDataFieldNumber)
                          ->bytes
                    : std::string()};
    events.push_back(std::move(event));
  }
  return events;
}

}  // namespace test
}  // namespace trace_event
}  // namespace kelmbase
