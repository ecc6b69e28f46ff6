#ifndef AGENT_BASE_SUPPORTS_USER_DATA_H_
#define AGENT_BASE_SUPPORTS_USER_DATA_H_

#include <map>
#include <memory>

namespace kelmbase {

// A base class for objects that carry data attached by other code, each
// piece under a key of the attaching code's choice (the address of a static
// owned by that code, so keys never collide). The object owns what is
// attached and destroys it with itself. Not thread-safe.
class SupportsUserData {
 public:
  // What can be attached; destroyed through its virtual destructor.
  class Data {
   public:
    virtual ~Data() = default;
  };

  SupportsUserData();
  // Takes over `other`'s data, leaving `other` with none.
  SupportsUserData(SupportsUserData&& other);
  SupportsUserData& operator=(SupportsUserData&& other);
  SupportsUserData(const SupportsUserData&) = delete;
  SupportsUserData& operator=(const SupportsUserData&) = delete;
  // Destroys the attached data. The map is emptied first, so a Data
  // destructor that looks at its owner finds nothing attached.
  virtual ~SupportsUserData();

  // The data under `key`, or null.
  Data* GetUserData(const void* key) const;
  // Attaches `data` under `key`, destroying what was there; a null `data`
  // removes the entry.
  void SetUserData(const void* key, std::unique_ptr<Data> data);
  void RemoveUserData(const void* key);

 private:
  std::map<const void*, std::unique_ptr<Data>> user_data_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_SUPPORTS_USER_DATA_H_
