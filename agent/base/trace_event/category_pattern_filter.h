#ifndef AGENT_BASE_TRACE_EVENT_CATEGORY_PATTERN_FILTER_H_
#define AGENT_BASE_TRACE_EVENT_CATEGORY_PATTERN_FILTER_H_

#include <string>
#include <vector>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {
namespace trace_event {

// Decides which categories a configuration enables, from three lists of
// wildcard patterns (* and ?). Names that begin "disabled-by-default-" are
// off unless a pattern of the disabled-by-default list names them.
//
// With every list empty (the default), a group is enabled when it holds a
// plain name:
//   IsCategoryGroupEnabled("base")                                -> true
//   IsCategoryGroupEnabled("toplevel,disabled-by-default-x")      -> true
//   IsCategoryGroupEnabled("disabled-by-default-x")               -> false
// An included pattern switches to "only what is named":
//   included {"toplevel"}: "base" -> false, "toplevel" -> true
// A plain value type; not thread-safe.
class CategoryPatternFilter {
 public:
  CategoryPatternFilter();
  CategoryPatternFilter(const CategoryPatternFilter&);
  CategoryPatternFilter& operator=(const CategoryPatternFilter&);
  ~CategoryPatternFilter();

  // `group`: names separated by ",".
  bool IsCategoryGroupEnabled(StringPiece group) const;
  // One name.
  bool IsCategoryEnabled(StringPiece name) const;

  std::vector<std::string>& included_categories() { return included_; }
  std::vector<std::string>& disabled_categories() { return disabled_; }
  std::vector<std::string>& excluded_categories() { return excluded_; }
  const std::vector<std::string>& included_categories() const {
    return included_;
  }
  const std::vector<std::string>& disabled_categories() const {
    return disabled_;
  }
  const std::vector<std::string>& excluded_categories() const {
    return excluded_;
  }

 private:
  std::vector<std::string> included_;
  // Disabled-by-default names that a configuration includes explicitly.
  std::vector<std::string> disabled_;
  std::vector<std::string> excluded_;
};

}  // namespace trace_event
}  // namespace kelmbase

#endif  // AGENT_BASE_TRACE_EVENT_CATEGORY_PATTERN_FILTER_H_
