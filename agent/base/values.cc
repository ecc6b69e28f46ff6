#include "agent/base/values.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <ostream>

#include "logging/check.h"

namespace kelmbase {

namespace {

// Byte-wise order of keys; on a common prefix the shorter key sorts first.
bool KeyLess(const std::string& key, StringPiece wanted) {
  size_t common = std::min(key.size(), wanted.size());
  int result = common == 0 ? 0 : memcmp(key.data(), wanted.data(), common);
  if (result != 0) return result < 0;
  return key.size() < wanted.size();
}

bool KeyEquals(const std::string& key, StringPiece wanted) {
  return key.size() == wanted.size() &&
         (key.empty() || memcmp(key.data(), wanted.data(), key.size()) == 0);
}

// Position of the first '.' in `text`, or npos.
size_t FindDot(StringPiece text) {
  if (text.empty()) return StringPiece::npos;
  const void* dot = memchr(text.data(), '.', text.size());
  if (dot == nullptr) return StringPiece::npos;
  return static_cast<const char*>(dot) - text.data();
}

std::string ToStdString(StringPiece text) {
  return std::string(text.data(), text.size());
}

}  // namespace

Value::Value() = default;

Value::Value(Type type) {
  switch (type) {
    case Type::NONE:
      break;
    case Type::BOOLEAN:
      data_.emplace<bool>(false);
      break;
    case Type::INTEGER:
      data_.emplace<int>(0);
      break;
    case Type::DOUBLE:
      data_.emplace<double>(0.0);
      break;
    case Type::STRING:
      data_.emplace<std::string>();
      break;
    case Type::BINARY:
      data_.emplace<BlobStorage>();
      break;
    case Type::DICTIONARY:
      data_.emplace<DictStorage>();
      break;
    case Type::LIST:
      data_.emplace<ListStorage>();
      break;
  }
}

Value::Value(bool value) : data_(std::in_place_type<bool>, value) {}

Value::Value(int value) : data_(std::in_place_type<int>, value) {}

Value::Value(double value)
    : data_(std::in_place_type<double>, std::isfinite(value) ? value : 0.0) {}

Value::Value(const char* value)
    : data_(std::in_place_type<std::string>, value) {}

Value::Value(StringPiece value)
    : data_(std::in_place_type<std::string>, value.data(), value.size()) {}

Value::Value(std::string&& value)
    : data_(std::in_place_type<std::string>, std::move(value)) {}

Value::Value(BlobStorage&& value)
    : data_(std::in_place_type<BlobStorage>, std::move(value)) {}

Value::Value(DictStorage&& value)
    : data_(std::in_place_type<DictStorage>, std::move(value)) {}

Value::Value(ListStorage&& value)
    : data_(std::in_place_type<ListStorage>, std::move(value)) {}

Value::Value(Value&& other) noexcept = default;

Value& Value::operator=(Value&& other) noexcept = default;

Value::~Value() = default;

Value Value::Clone() const {
  switch (type()) {
    case Type::NONE:
      return Value();
    case Type::BOOLEAN:
      return Value(GetBool());
    case Type::INTEGER:
      return Value(GetInt());
    case Type::DOUBLE:
      return Value(std::get<double>(data_));
    case Type::STRING:
      return Value(std::string(GetString()));
    case Type::BINARY:
      return Value(BlobStorage(GetBlob()));
    case Type::DICTIONARY: {
      DictStorage copy;
      copy.reserve(GetDict().size());
      for (const auto& [key, value] : GetDict())
        copy.emplace_back(key, std::make_unique<Value>(value->Clone()));
      return Value(std::move(copy));
    }
    case Type::LIST: {
      ListStorage copy;
      copy.reserve(GetList().size());
      for (const Value& element : GetList()) copy.push_back(element.Clone());
      return Value(std::move(copy));
    }
  }
  return Value();
}

bool Value::GetBool() const { return std::get<bool>(data_); }

int Value::GetInt() const { return std::get<int>(data_); }

const std::string& Value::GetString() const {
  return std::get<std::string>(data_);
}

std::string& Value::GetString() { return std::get<std::string>(data_); }

const Value::BlobStorage& Value::GetBlob() const {
  return std::get<BlobStorage>(data_);
}

const Value::ListStorage& Value::GetList() const {
  return std::get<ListStorage>(data_);
}

Value::ListStorage& Value::GetList() { return std::get<ListStorage>(data_); }

const Value::DictStorage& Value::GetDict() const {
  return std::get<DictStorage>(data_);
}

Value::DictStorage& Value::GetDict() { return std::get<DictStorage>(data_); }

double Value::GetDouble() const {
  if (is_double()) return std::get<double>(data_);
  if (is_int()) return std::get<int>(data_);
  CHECK(false);
  return 0.0;
}

void Value::Append(Value&& value) {
  std::get<ListStorage>(data_).emplace_back(std::move(value));
}

Value::DictStorage::iterator Value::LowerBound(StringPiece key) {
  DictStorage& dict = std::get<DictStorage>(data_);
  return std::lower_bound(
      dict.begin(), dict.end(), key,
      [](const DictStorage::value_type& entry, StringPiece wanted) {
        return KeyLess(entry.first, wanted);
      });
}

Value::DictStorage::const_iterator Value::LowerBound(StringPiece key) const {
  const DictStorage& dict = std::get<DictStorage>(data_);
  return std::lower_bound(
      dict.begin(), dict.end(), key,
      [](const DictStorage::value_type& entry, StringPiece wanted) {
        return KeyLess(entry.first, wanted);
      });
}

Value* Value::FindKey(StringPiece key) {
  return const_cast<Value*>(std::as_const(*this).FindKey(key));
}

const Value* Value::FindKey(StringPiece key) const {
  auto it = LowerBound(key);
  if (it == GetDict().end() || !KeyEquals(it->first, key)) return nullptr;
  return it->second.get();
}

const std::string* Value::FindStringKey(StringPiece key) const {
  const Value* found = FindKey(key);
  if (found == nullptr || !found->is_string()) return nullptr;
  return &found->GetString();
}

std::string* Value::FindStringKey(StringPiece key) {
  return const_cast<std::string*>(std::as_const(*this).FindStringKey(key));
}

Value* Value::SetKey(StringPiece key, Value&& value) {
  return SetKeyOwned(key, std::make_unique<Value>(std::move(value)));
}

Value* Value::SetKey(const char* key, Value&& value) {
  return SetKey(StringPiece(key), std::move(value));
}

Value* Value::SetKeyOwned(StringPiece key, std::unique_ptr<Value> value) {
  CHECK(is_dict());
  // A null entry would crash whoever reads or writes the dictionary later.
  CHECK(value);
  Value* stored = value.get();
  auto it = LowerBound(key);
  if (it != GetDict().end() && KeyEquals(it->first, key)) {
    it->second = std::move(value);
  } else {
    GetDict().emplace(it, ToStdString(key), std::move(value));
  }
  return stored;
}

Value* Value::SetBoolKey(StringPiece key, bool value) {
  return SetKey(key, Value(value));
}

Value* Value::SetIntKey(StringPiece key, int value) {
  return SetKey(key, Value(value));
}

Value* Value::SetDoubleKey(StringPiece key, double value) {
  return SetKey(key, Value(value));
}

Value* Value::SetStringKey(StringPiece key, const char* value) {
  return SetKey(key, Value(value));
}

Value* Value::SetStringKey(StringPiece key, StringPiece value) {
  return SetKey(key, Value(value));
}

Value* Value::SetStringKey(StringPiece key, std::string&& value) {
  return SetKey(key, Value(std::move(value)));
}

Value* Value::FindPath(StringPiece path) {
  return const_cast<Value*>(std::as_const(*this).FindPath(path));
}

const Value* Value::FindPath(StringPiece path) const {
  CHECK(is_dict());
  const Value* current = this;
  DottedPathSplitter splitter(path);
  StringPiece component;
  while (splitter.Next(&component)) {
    if (!current->is_dict()) return nullptr;
    current = current->FindKey(component);
    if (current == nullptr) return nullptr;
  }
  return current;
}

Value* Value::FindListPath(StringPiece path) {
  return const_cast<Value*>(std::as_const(*this).FindListPath(path));
}

const Value* Value::FindListPath(StringPiece path) const {
  const Value* found = FindPath(path);
  if (found == nullptr || !found->is_list()) return nullptr;
  return found;
}

DottedPathSplitter::DottedPathSplitter(StringPiece path)
    : rest_(path), done_(path.empty()) {}

bool DottedPathSplitter::Next(StringPiece* component) {
  if (done_) return false;
  size_t dot = FindDot(rest_);
  if (dot == StringPiece::npos) {
    *component = rest_;
    done_ = true;
    return true;
  }
  *component = StringPiece(rest_.data(), dot);
  rest_ = StringPiece(rest_.data() + dot + 1, rest_.size() - dot - 1);
  if (rest_.empty()) done_ = true;
  return true;
}

DictionaryValue::DictionaryValue() : Value(Type::DICTIONARY) {}

Value* DictionaryValue::Set(StringPiece path, std::unique_ptr<Value> value) {
  Value* current = this;
  StringPiece rest = path;
  for (size_t dot = FindDot(rest); dot != StringPiece::npos;
       dot = FindDot(rest)) {
    StringPiece key(rest.data(), dot);
    Value* child = current->FindKey(key);
    if (child == nullptr || !child->is_dict())
      child = current->SetKey(key, Value(Type::DICTIONARY));
    current = child;
    rest = StringPiece(rest.data() + dot + 1, rest.size() - dot - 1);
  }
  return current->SetKeyOwned(rest, std::move(value));
}

Value* DictionaryValue::SetLiteralKey(StringPiece key,
                                      std::unique_ptr<Value> value) {
  return SetKeyOwned(key, std::move(value));
}

Value* DictionaryValue::SetString(StringPiece path, StringPiece value) {
  return Set(path, std::make_unique<Value>(value));
}

std::ostream& operator<<(std::ostream& out, Value::Type type) {
  static const char* const kTypeNames[] = {
      "null",   "boolean", "integer",    "double",
      "string", "binary",  "dictionary", "list",
  };
  uint32_t index = static_cast<uint32_t>(type);
  if (index >= std::size(kTypeNames))
    return out << "Invalid Type (index = " << index << ")";
  return out << kTypeNames[index];
}

}  // namespace kelmbase
