#include "agent/base/files/file_path.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <utility>

namespace kelmbase {

namespace {

constexpr char kSeparator = '/';

bool IsSeparator(char c) { return c == kSeparator; }

// The bytes before the first NUL; the whole text when it holds none.
StringPiece CutAtNul(StringPiece text) {
  const void* nul = text.empty() ? nullptr
                                 : std::memchr(text.data(), '\0', text.size());
  if (nul == nullptr) return text;
  return StringPiece(text.data(),
                     static_cast<const char*>(nul) - text.data());
}

bool IsParentReferenceComponent(const std::string& component) {
  if (component.find(FilePath::kParentDirectory) == std::string::npos) {
    return false;
  }
  return component.find_first_not_of(". \t\n\r") == std::string::npos;
}

}  // namespace

FilePath::FilePath(StringPiece path) {
  StringPiece cut = CutAtNul(path);
  path_.assign(cut.data(), cut.size());
}

FilePath::FilePath(FilePath&& other) noexcept
    : path_(std::move(other.path_)) {
  other.path_.clear();
}

FilePath& FilePath::operator=(FilePath&& other) noexcept {
  if (this != &other) {
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

void FilePath::StripTrailingSeparatorsInternal() {
  // Position 0 is never stripped, so a lone "/" survives. A two-byte "//"
  // is a root of its own and survives too, unless it is what is left of a
  // longer run such as "///", which is just "/".
  constexpr size_t kStart = 1;
  size_t last_stripped = std::string::npos;
  for (size_t pos = path_.size(); pos > kStart && IsSeparator(path_[pos - 1]);
       --pos) {
    if (pos != kStart + 1 || last_stripped == kStart + 2 ||
        !IsSeparator(path_[kStart - 1])) {
      path_.resize(pos - 1);
      last_stripped = pos;
    }
  }
}

FilePath FilePath::StripTrailingSeparators() const {
  FilePath copy(*this);
  copy.StripTrailingSeparatorsInternal();
  return copy;
}

FilePath FilePath::DirName() const {
  FilePath parent(*this);
  parent.StripTrailingSeparatorsInternal();

  std::string& text = parent.path_;
  size_t last_separator = text.find_last_of(kSeparators);
  if (last_separator == std::string::npos) {
    text.clear();
  } else if (last_separator == 0) {
    text.resize(1);
  } else if (last_separator == 1 && IsSeparator(text[0])) {
    text.resize(2);
  } else {
    text.resize(last_separator);
  }

  parent.StripTrailingSeparatorsInternal();
  // Appending to the empty string rather than assigning keeps GCC 12's
  // -O3 overlap analysis from reporting a copy that cannot happen.
  if (text.empty()) text.append(kCurrentDirectory);
  return parent;
}

FilePath FilePath::BaseName() const {
  FilePath base(*this);
  base.StripTrailingSeparatorsInternal();

  std::string& text = base.path_;
  size_t last_separator = text.find_last_of(kSeparators);
  if (last_separator != std::string::npos &&
      last_separator < text.size() - 1) {
    text.erase(0, last_separator + 1);
  }
  return base;
}

FilePath FilePath::Append(StringPiece component) const {
  StringPiece appended = CutAtNul(component);

  if (path_ == kCurrentDirectory && !appended.empty()) {
    return FilePath(appended);
  }

  FilePath joined(*this);
  joined.StripTrailingSeparatorsInternal();
  std::string& text = joined.path_;
  if (!appended.empty() && !text.empty() && !IsSeparator(text.back())) {
    text.push_back(kSeparator);
  }
  text.append(appended.data(), appended.size());
  return joined;
}

FilePath FilePath::Append(const FilePath& component) const {
  return Append(StringPiece(component.value()));
}

FilePath FilePath::AppendAsciiComponent(StringPiece component) const {
  return Append(component);
}

std::vector<std::string> FilePath::GetComponents() const {
  std::vector<std::string> components;
  FilePath current = *this;
  FilePath parent = current.DirName();
  while (parent != current) {
    components.push_back(current.BaseName().value());
    current = std::move(parent);
    parent = current.DirName();
  }

  // What remains is a root ("/" or "//") or ".".
  std::string root = current.BaseName().value();
  if (!root.empty() && root != kCurrentDirectory) {
    components.push_back(std::move(root));
  }

  std::reverse(components.begin(), components.end());
  return components;
}

bool FilePath::ContainsParentReference() const {
  if (path_.find(kParentDirectory) == std::string::npos) return false;
  std::vector<std::string> components = GetComponents();
  return std::any_of(components.begin(), components.end(),
                     IsParentReferenceComponent);
}

std::ostream& operator<<(std::ostream& out, const FilePath& path) {
  return out << path.value();
}

}  // namespace kelmbase
