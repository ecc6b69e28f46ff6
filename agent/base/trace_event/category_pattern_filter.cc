#include "agent/base/trace_event/category_pattern_filter.h"

#include "agent/base/strings/pattern.h"
#include "agent/base/strings/string_split.h"

namespace kelmbase {
namespace trace_event {

namespace {

constexpr char kDisabledByDefaultPattern[] = "disabled-by-default-*";

bool MatchesAny(StringPiece name, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    if (MatchWildcard(name, pattern))
      return true;
  }
  return false;
}

bool IsDisabledByDefault(StringPiece name) {
  return MatchWildcard(name, kDisabledByDefaultPattern);
}

}  // namespace

CategoryPatternFilter::CategoryPatternFilter() = default;
CategoryPatternFilter::CategoryPatternFilter(const CategoryPatternFilter&) =
    default;
CategoryPatternFilter& CategoryPatternFilter::operator=(
    const CategoryPatternFilter&) = default;
CategoryPatternFilter::~CategoryPatternFilter() = default;

bool CategoryPatternFilter::IsCategoryEnabled(StringPiece name) const {
  if (MatchesAny(name, disabled_))
    return true;
  if (IsDisabledByDefault(name))
    return false;
  return MatchesAny(name, included_);
}

bool CategoryPatternFilter::IsCategoryGroupEnabled(StringPiece group) const {
  const std::vector<StringPiece> names =
      SplitIntoPieces(group, ",", kKeepWhitespace, kWantAll);

  bool had_plain_name = false;
  for (StringPiece name : names) {
    if (IsCategoryEnabled(name))
      return true;
    if (!IsDisabledByDefault(name))
      had_plain_name = true;
  }

  // A name is excluded when an excluded pattern matches it; the pass stops
  // at the first name that is not.
  bool disabled = false;
  for (StringPiece name : names) {
    for (const std::string& pattern : excluded_) {
      if (MatchWildcard(name, pattern)) {
        disabled = true;
        break;
      }
      if (!IsDisabledByDefault(name))
        disabled = false;
    }
    if (!disabled)
      break;
  }

  return !disabled && had_plain_name && included_.empty();
}

}  // namespace trace_event
}  // namespace kelmbase
