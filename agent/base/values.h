#ifndef AGENT_BASE_VALUES_H_
#define AGENT_BASE_VALUES_H_

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

// A tree value: none, bool, int, double, string, blob, dictionary or list.
// Used to describe internal state for debugging (written out as JSON by
// JsonWriter) and to carry preference values.
//
// A Value owns its whole tree. It is movable but not copyable; use Clone()
// for a deep copy. Moving leaves the source with its kind and moved-from
// storage (an empty string, blob, dictionary or list).
//
// The typed getters require the matching kind: asking a Value for another
// kind ends the process. Values are not synchronised; one thread builds and
// reads a tree.
class Value {
 public:
  // The kinds, in the order of their indexes. Printed by operator<< below
  // as "null", "boolean", "integer", "double", "string", "binary",
  // "dictionary" and "list".
  enum class Type : uint32_t {
    NONE = 0,
    BOOLEAN = 1,
    INTEGER = 2,
    DOUBLE = 3,
    STRING = 4,
    BINARY = 5,
    DICTIONARY = 6,
    LIST = 7,
  };

  using BlobStorage = std::vector<uint8_t>;
  // Entries sorted by key in byte-wise order (a proper prefix first), keys
  // unique; each entry owns its Value.
  using DictStorage =
      std::vector<std::pair<std::string, std::unique_ptr<Value>>>;
  using ListStorage = std::vector<Value>;

  // A NONE value.
  Value();
  // The default of the kind: none, false, 0, 0.0, or an empty string, blob,
  // dictionary or list.
  explicit Value(Type type);
  explicit Value(bool value);
  explicit Value(int value);
  // A NaN or an infinity cannot be written as JSON; it is stored as 0.0.
  explicit Value(double value);
  // STRING values. The text should be UTF-8; this is not enforced (the JSON
  // writer replaces ill-formed sequences).
  explicit Value(const char* value);
  explicit Value(StringPiece value);
  explicit Value(std::string&& value);
  // A BINARY value holding the bytes.
  explicit Value(BlobStorage&& value);
  // A DICTIONARY value; `value` must be sorted with unique keys, as
  // DictStorage describes.
  explicit Value(DictStorage&& value);
  // A LIST value.
  explicit Value(ListStorage&& value);

  Value(Value&& other) noexcept;
  Value& operator=(Value&& other) noexcept;
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;

  ~Value();

  // A deep copy of the whole tree.
  Value Clone() const;

  Type type() const { return static_cast<Type>(data_.index()); }

  bool is_none() const { return type() == Type::NONE; }
  bool is_bool() const { return type() == Type::BOOLEAN; }
  bool is_int() const { return type() == Type::INTEGER; }
  bool is_double() const { return type() == Type::DOUBLE; }
  bool is_string() const { return type() == Type::STRING; }
  bool is_blob() const { return type() == Type::BINARY; }
  bool is_dict() const { return type() == Type::DICTIONARY; }
  bool is_list() const { return type() == Type::LIST; }

  // The stored alternative; any other kind ends the process.
  bool GetBool() const;
  int GetInt() const;
  const std::string& GetString() const;
  std::string& GetString();
  const BlobStorage& GetBlob() const;
  const ListStorage& GetList() const;
  ListStorage& GetList();
  const DictStorage& GetDict() const;
  DictStorage& GetDict();

  // A DOUBLE's value, or an INTEGER converted to double. Any other kind is a
  // fatal CHECK.
  double GetDouble() const;

  // Moves `value` onto the end of a LIST; any other kind ends the process.
  void Append(Value&& value);

  // The Value stored under `key`, or null when there is none. The Value must
  // be a DICTIONARY (any other kind ends the process).
  Value* FindKey(StringPiece key);
  const Value* FindKey(StringPiece key) const;

  // The text stored under `key`, or null unless there is a STRING under it.
  // The Value must be a DICTIONARY.
  const std::string* FindStringKey(StringPiece key) const;
  std::string* FindStringKey(StringPiece key);

  // Stores `value` under `key`, replacing (and destroying) what was stored
  // there, and returns the stored Value. The Value must be a DICTIONARY and
  // `value` must not be null (fatal CHECKs).
  Value* SetKey(StringPiece key, Value&& value);
  Value* SetKey(const char* key, Value&& value);
  Value* SetKeyOwned(StringPiece key, std::unique_ptr<Value> value);

  // Store a new Value of the kind under `key`; see SetKey.
  Value* SetBoolKey(StringPiece key, bool value);
  Value* SetIntKey(StringPiece key, int value);
  // A NaN or an infinity is stored as 0.0.
  Value* SetDoubleKey(StringPiece key, double value);
  Value* SetStringKey(StringPiece key, const char* value);
  Value* SetStringKey(StringPiece key, StringPiece value);
  Value* SetStringKey(StringPiece key, std::string&& value);

  // Follows a dotted path ("a.b.c") through nested dictionaries and returns
  // the Value at its end, or null when a component is missing or must be
  // looked up in something that is not a DICTIONARY. The empty path gives
  // this Value; a trailing '.' adds no component, a leading '.' looks up the
  // empty key. This Value must be a DICTIONARY (fatal CHECK).
  Value* FindPath(StringPiece path);
  const Value* FindPath(StringPiece path) const;

  // FindPath, but null unless the Value found is a LIST.
  Value* FindListPath(StringPiece path);
  const Value* FindListPath(StringPiece path) const;

 private:
  using Storage = std::variant<std::monostate, bool, int, double, std::string,
                               BlobStorage, DictStorage, ListStorage>;

  // The position of the first entry whose key is not less than `key`.
  DictStorage::iterator LowerBound(StringPiece key);
  DictStorage::const_iterator LowerBound(StringPiece key) const;

  Storage data_;
};

// Splits a dotted path into its components, front to back: each step yields
// the text up to the next '.', or the rest of the path. A trailing '.' ends
// the walk without an empty component.
class DottedPathSplitter {
 public:
  explicit DottedPathSplitter(StringPiece path);

  // True with the next component in `component`, false when none is left.
  bool Next(StringPiece* component);

 private:
  StringPiece rest_;
  bool done_;
};

// A DICTIONARY Value with operations that take dotted paths.
class DictionaryValue : public Value {
 public:
  // An empty dictionary.
  DictionaryValue();

  // Stores `value` at the dotted `path`. Each component before the last
  // names a dictionary: a missing one, or one holding anything but a
  // dictionary, is replaced by a new empty dictionary. Returns the stored
  // Value.
  Value* Set(StringPiece path, std::unique_ptr<Value> value);

  // Stores `value` under `key` taken whole, dots included.
  Value* SetLiteralKey(StringPiece key, std::unique_ptr<Value> value);

  // Set() of a new STRING Value.
  Value* SetString(StringPiece path, StringPiece value);
};

// Writes the kind's name ("null", "boolean", ...). An index that names no
// kind writes "Invalid Type (index = <index>)".
std::ostream& operator<<(std::ostream& out, Value::Type type);

}  // namespace kelmbase

#endif  // AGENT_BASE_VALUES_H_
