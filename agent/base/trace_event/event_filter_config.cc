#include "agent/base/trace_event/event_filter_config.h"

#include <utility>

namespace kelmbase {
namespace trace_event {

EventFilterConfig::EventFilterConfig(std::string predicate_name)
    : predicate_name_(std::move(predicate_name)),
      args_(Value::Type::DICTIONARY) {}

EventFilterConfig::EventFilterConfig(const EventFilterConfig& other)
    : predicate_name_(other.predicate_name_),
      category_filter_(other.category_filter_),
      args_(other.args_.Clone()) {}

EventFilterConfig& EventFilterConfig::operator=(
    const EventFilterConfig& other) {
  if (this == &other)
    return *this;
  predicate_name_ = other.predicate_name_;
  category_filter_ = other.category_filter_;
  args_ = other.args_.Clone();
  return *this;
}

EventFilterConfig::~EventFilterConfig() = default;

bool EventFilterConfig::GetArgAsSet(const char* key,
                                    std::set<std::string>* out) const {
  if (!args_.is_dict())
    return false;
  const Value* list = args_.FindKey(key);
  if (list == nullptr || !list->is_list())
    return false;
  for (const Value& element : list->GetList()) {
    if (element.is_string())
      out->insert(element.GetString());
  }
  return true;
}

}  // namespace trace_event
}  // namespace kelmbase
