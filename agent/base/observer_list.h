#ifndef AGENT_BASE_OBSERVER_LIST_H_
#define AGENT_BASE_OBSERVER_LIST_H_

#include <algorithm>
#include <cstddef>
#include <vector>

namespace kelmbase {

// A plain, single-thread list of observer pointers that stays safe to modify
// while it is being iterated: an observer removed during iteration leaves a
// hole that iteration skips, and the holes are compacted once the last live
// iterator goes away. Not synchronised; use it from one thread only.
//
//   for (Observer& observer : list)
//     observer.OnSomething();
template <typename ObserverType>
class ObserverList {
 public:
  class Iter;

  // Marks the end of iteration in range-based for loops.
  struct End {};

  ObserverList() = default;
  ObserverList(const ObserverList&) = delete;
  ObserverList& operator=(const ObserverList&) = delete;

  // Detaches any live iterators, which then see an exhausted list.
  ~ObserverList() {
    for (Iter* iter : live_iterators_)
      iter->list_ = nullptr;
  }

  // Appends `observer` unless it is already present. A null observer is
  // ignored.
  void AddObserver(ObserverType* observer) {
    if (observer == nullptr || HasObserver(observer))
      return;
    observers_.push_back(observer);
    ++count_;
  }

  // Removes `observer` if present. While iterators are live, its entry is
  // only nulled so that their positions stay valid.
  void RemoveObserver(const ObserverType* observer) {
    auto it = std::find(observers_.begin(), observers_.end(), observer);
    if (it == observers_.end())
      return;
    if (*it != nullptr)
      --count_;
    if (live_iterators_.empty())
      observers_.erase(it);
    else
      *it = nullptr;
  }

  bool HasObserver(const ObserverType* observer) const {
    return observer != nullptr &&
           std::find(observers_.begin(), observers_.end(), observer) !=
               observers_.end();
  }

  // Number of observers, not counting holes left by removal.
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  // Removes every observer (leaving holes while iterators are live).
  void Clear() {
    if (live_iterators_.empty()) {
      observers_.clear();
    } else {
      std::fill(observers_.begin(), observers_.end(), nullptr);
    }
    count_ = 0;
  }

  Iter begin() { return Iter(this); }
  End end() { return End(); }

  // Iterates over the non-null entries. While it lives, removal from the list
  // nulls entries instead of erasing them. Neither copyable nor movable, which
  // range-based for loops allow.
  class Iter {
   public:
    explicit Iter(ObserverList* list) : list_(list) {
      list_->live_iterators_.push_back(this);
      SkipHoles();
    }
    Iter(const Iter&) = delete;
    Iter& operator=(const Iter&) = delete;

    ~Iter() {
      if (list_ == nullptr)
        return;
      auto& live = list_->live_iterators_;
      live.erase(std::find(live.begin(), live.end(), this));
      if (live.empty())
        list_->Compact();
    }

    ObserverType& operator*() const { return *list_->observers_[index_]; }
    ObserverType* operator->() const { return list_->observers_[index_]; }

    Iter& operator++() {
      ++index_;
      SkipHoles();
      return *this;
    }

    bool operator==(End) const {
      return list_ == nullptr || index_ >= list_->observers_.size();
    }
    bool operator!=(End end) const { return !(*this == end); }

   private:
    friend class ObserverList;

    void SkipHoles() {
      if (list_ == nullptr)
        return;
      while (index_ < list_->observers_.size() &&
             list_->observers_[index_] == nullptr) {
        ++index_;
      }
    }

    ObserverList* list_;
    size_t index_ = 0;
  };

 private:
  void Compact() {
    observers_.erase(
        std::remove(observers_.begin(), observers_.end(), nullptr),
        observers_.end());
  }

  std::vector<ObserverType*> observers_;
  size_t count_ = 0;
  std::vector<Iter*> live_iterators_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_OBSERVER_LIST_H_
