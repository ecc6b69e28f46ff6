#ifndef AGENT_BASE_CONTAINERS_MRU_CACHE_H_
#define AGENT_BASE_CONTAINERS_MRU_CACHE_H_

// A map that remembers the order in which its entries were used and, once it
// holds its maximum number of entries, drops the least recently used one to
// make room for a new one.
//
//   kelmbase::HashingMRUCache<std::string, std::string> cache(10);
//   cache.Put("input", "signature");
//   auto it = cache.Get("input");  // A hit moves the entry to the front.
//   if (it != cache.end()) Use(it->second);

#include <cstddef>
#include <functional>
#include <iterator>
#include <list>
#include <unordered_map>
#include <utility>

namespace kelmbase {

// The index of a hashing cache: an unordered map from key to list position.
template <class KeyType, class ValueType, class HashType>
struct MRUCacheHashMap {
  using Type = std::unordered_map<KeyType, ValueType, HashType>;
};

// The cache proper: an ordering list of (key, payload) pairs, most recently
// used first, and an index (`MapType`) from each key to its list position.
// Positions stay valid until their entry is erased; every operation that
// erases an entry (Put evicting or replacing, Clear) invalidates it. Not
// thread-safe: callers that share a cache guard it themselves.
template <class KeyType,
          class PayloadType,
          class HashOrCompareType,
          template <typename, typename, typename> class MapType>
class MRUCacheBase {
 public:
  using key_type = KeyType;
  using payload_type = PayloadType;
  using value_type = std::pair<KeyType, PayloadType>;

 private:
  using PayloadList = std::list<value_type>;
  using KeyIndex =
      typename MapType<KeyType, typename PayloadList::iterator,
                       HashOrCompareType>::Type;

 public:
  using size_type = typename PayloadList::size_type;
  using iterator = typename PayloadList::iterator;
  using const_iterator = typename PayloadList::const_iterator;

  // A maximum size of 0 never evicts: the cache grows without bound.
  static constexpr size_type NO_AUTO_EVICT = 0;

  explicit MRUCacheBase(size_type max_size) : max_size_(max_size) {}
  MRUCacheBase(const MRUCacheBase&) = delete;
  MRUCacheBase& operator=(const MRUCacheBase&) = delete;
  virtual ~MRUCacheBase() = default;

  size_type max_size() const { return max_size_; }

  // Inserts (key, payload) at the front. An entry with the same key is
  // replaced, so the size does not grow; otherwise, when the cache is full,
  // the least recently used entries are dropped first. Returns the new
  // entry's position.
  template <typename Payload>
  iterator Put(const KeyType& key, Payload&& payload) {
    typename KeyIndex::iterator index_it = index_.find(key);
    if (index_it != index_.end()) {
      ordering_.erase(index_it->second);
      index_.erase(index_it);
    } else if (max_size_ != NO_AUTO_EVICT) {
      while (ordering_.size() > max_size_ - 1) EraseLeastRecentlyUsed();
    }
    ordering_.emplace_front(key, std::forward<Payload>(payload));
    index_.emplace(key, ordering_.begin());
    return ordering_.begin();
  }

  // The position of the entry with `key`, moved to the front, or end() when
  // there is none.
  iterator Get(const KeyType& key) {
    typename KeyIndex::iterator index_it = index_.find(key);
    if (index_it == index_.end()) return end();
    ordering_.splice(ordering_.begin(), ordering_, index_it->second);
    return ordering_.begin();
  }

  // Drops every entry (the index first, then the ordering list).
  void Clear() {
    index_.clear();
    ordering_.clear();
  }

  size_type size() const { return index_.size(); }
  bool empty() const { return ordering_.empty(); }

  // Iteration runs from the most to the least recently used entry.
  iterator begin() { return ordering_.begin(); }
  const_iterator begin() const { return ordering_.begin(); }
  iterator end() { return ordering_.end(); }
  const_iterator end() const { return ordering_.end(); }

 protected:
  KeyIndex& index() { return index_; }

 private:
  void EraseLeastRecentlyUsed() {
    iterator last = std::prev(ordering_.end());
    index_.erase(last->first);
    ordering_.erase(last);
  }

  PayloadList ordering_;
  KeyIndex index_;
  const size_type max_size_;
};

// An MRU cache indexed by a hash map (maximum load factor 1.0).
template <class KeyType, class PayloadType, class HashType = std::hash<KeyType>>
class HashingMRUCache
    : public MRUCacheBase<KeyType, PayloadType, HashType, MRUCacheHashMap> {
 private:
  using ParentType =
      MRUCacheBase<KeyType, PayloadType, HashType, MRUCacheHashMap>;

 public:
  explicit HashingMRUCache(typename ParentType::size_type max_size)
      : ParentType(max_size) {
    this->index().max_load_factor(1.0f);
  }
  HashingMRUCache(const HashingMRUCache&) = delete;
  HashingMRUCache& operator=(const HashingMRUCache&) = delete;
  ~HashingMRUCache() override = default;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_CONTAINERS_MRU_CACHE_H_
