#ifndef AGENT_BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_
#define AGENT_BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_

#include <set>
#include <string>

#include "agent/base/strings/string_piece.h"
#include "agent/base/trace_event/category_pattern_filter.h"
#include "agent/base/values.h"

namespace kelmbase {
namespace trace_event {

// The settings of one event filter: which predicate to build (by name, for
// example "event_whitelist_predicate"), the categories it watches and its
// arguments. A plain value type.
class EventFilterConfig {
 public:
  explicit EventFilterConfig(std::string predicate_name);
  EventFilterConfig(const EventFilterConfig& other);
  EventFilterConfig& operator=(const EventFilterConfig& other);
  ~EventFilterConfig();

  bool IsCategoryGroupEnabled(StringPiece group) const {
    return category_filter_.IsCategoryGroupEnabled(group);
  }

  // Inserts every string element of the list stored under `key` in the
  // arguments (other elements are skipped). False when the key is missing
  // or its value is not a list.
  bool GetArgAsSet(const char* key, std::set<std::string>* out) const;

  const std::string& predicate_name() const { return predicate_name_; }
  CategoryPatternFilter& category_filter() { return category_filter_; }
  const CategoryPatternFilter& category_filter() const {
    return category_filter_;
  }
  // A dictionary.
  void SetArgs(Value args) { args_ = std::move(args); }
  const Value& args() const { return args_; }

 private:
  std::string predicate_name_;
  CategoryPatternFilter category_filter_;
  Value args_;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_EVENT_FILTER_CONFIG_H_
