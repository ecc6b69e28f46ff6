#include "agent/base/trace_event/trace_event_filter.h"

#include <utility>

#include "agent/base/trace_event/trace_event.h"

namespace kelmbase {
namespace trace_event {

EventNameFilter::EventNameFilter(
    std::unique_ptr<std::set<std::string>> allowed)
    : allowed_(std::move(allowed)) {}

EventNameFilter::~EventNameFilter() = default;

bool EventNameFilter::AcceptEvent(const TraceEvent& event) const {
  return event.name() != nullptr && allowed_->count(event.name()) != 0;
}

}  // namespace trace_event
}  // namespace kelmbase
