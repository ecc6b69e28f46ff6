#ifndef AGENT_BASE_FILES_FILE_PATH_H_
#define AGENT_BASE_FILES_FILE_PATH_H_

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// A file system path held as one string of bytes with "/" as the only
// separator. All operations are pure name arithmetic: none of them looks at
// the file system. Text handed in is cut at its first NUL byte, so a path
// never holds one.
class FilePath {
 public:
  // The separator table; its length counts the terminator.
  static constexpr char kSeparators[] = "/";
  static constexpr size_t kSeparatorsLength = sizeof(kSeparators);
  static constexpr char kCurrentDirectory[] = ".";
  static constexpr char kParentDirectory[] = "..";

  FilePath() = default;
  explicit FilePath(StringPiece path);
  FilePath(const FilePath& other) = default;
  // Moving leaves `other` empty.
  FilePath(FilePath&& other) noexcept;
  FilePath& operator=(const FilePath& other) = default;
  FilePath& operator=(FilePath&& other) noexcept;
  ~FilePath() = default;

  bool operator==(const FilePath& other) const { return path_ == other.path_; }
  bool operator!=(const FilePath& other) const { return path_ != other.path_; }
  // Byte-wise order, so paths can key ordered containers.
  bool operator<(const FilePath& other) const { return path_ < other.path_; }

  const std::string& value() const { return path_; }
  bool empty() const { return path_.empty(); }

  // The parent directory: "." for a bare name or the empty path, "/" or "//"
  // for a name directly under that root. Trailing separators are ignored,
  // so DirName of "a/b/" is "a".
  FilePath DirName() const;

  // The last component, ignoring trailing separators. A root ("/" or "//")
  // is its own base name; the empty path gives the empty path.
  FilePath BaseName() const;

  // The path joined with one component by a single separator. Trailing
  // separators of this path are dropped first; an empty component yields
  // just that. A component that begins with "/" is not refused ("a" + "/x"
  // is "a//x"). Appending to "." yields the component alone.
  FilePath Append(StringPiece component) const;
  FilePath Append(const FilePath& component) const;
  // The same as Append(StringPiece); meant for literal components.
  FilePath AppendAsciiComponent(StringPiece component) const;

  // A copy without trailing separators. "/" and "//" are kept as roots, but
  // a longer run of separators only ("///") shrinks to "/".
  FilePath StripTrailingSeparators() const;

  // The components, root ("/" or "//") first: "/a/b" gives {"/", "a", "b"},
  // "a/b" gives {"a", "b"}. A leading "." is not a component. The empty path
  // gives one empty component: its DirName is ".", so its BaseName counts.
  std::vector<std::string> GetComponents() const;

  // Whether some component names the parent directory: a component made only
  // of '.', blanks, tabs, line feeds and carriage returns that contains "..".
  // "a/../b" and "a/ .. /b" do; "a/..b" does not.
  bool ContainsParentReference() const;

 private:
  void StripTrailingSeparatorsInternal();

  std::string path_;
};

// Prints the path's bytes.
std::ostream& operator<<(std::ostream& out, const FilePath& path);

}  // namespace kelmbase

#endif  // AGENT_BASE_FILES_FILE_PATH_H_
