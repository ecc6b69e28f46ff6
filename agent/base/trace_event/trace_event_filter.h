#ifndef AGENT_BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_
#define AGENT_BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_

#include <memory>
#include <set>
#include <string>

namespace kelmbase {
namespace trace_event {

class TraceEvent;

// A predicate over events, run by the trace log for the categories whose
// filter mask names it. Called on the emitting thread with no lock held;
// a filter shared by several threads must guard its own state.
class TraceEventFilter {
 public:
  TraceEventFilter() = default;
  TraceEventFilter(const TraceEventFilter&) = delete;
  TraceEventFilter& operator=(const TraceEventFilter&) = delete;
  virtual ~TraceEventFilter() = default;

  // True keeps the event.
  virtual bool AcceptEvent(const TraceEvent& event) const = 0;
  // A complete event of `category_group` named `event_name` was closed.
  virtual void EndEvent(const char* category_group,
                        const char* event_name) const {}
};

// Keeps the events whose name is in an allow-list.
class EventNameFilter : public TraceEventFilter {
 public:
  explicit EventNameFilter(std::unique_ptr<std::set<std::string>> allowed);
  ~EventNameFilter() override;

  bool AcceptEvent(const TraceEvent& event) const override;

 private:
  std::unique_ptr<std::set<std::string>> allowed_;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_TRACE_EVENT_FILTER_H_
