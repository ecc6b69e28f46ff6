#include "agent/base/observer_list.h"

#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

class Observer {
 public:
  explicit Observer(int id) : id(id) {}
  int id;
};

std::vector<int> Ids(ObserverList<Observer>& list) {
  std::vector<int> ids;
  for (Observer& observer : list)
    ids.push_back(observer.id);
  return ids;
}

TEST(ObserverListTest, AddingTwiceKeepsOneEntry) {
  Observer a(1), b(2);
  ObserverList<Observer> list;
  EXPECT_TRUE(list.empty());
  list.AddObserver(&a);
  list.AddObserver(&b);
  list.AddObserver(&a);
  list.AddObserver(nullptr);
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(Ids(list), (std::vector<int>{1, 2}));
  EXPECT_TRUE(list.HasObserver(&a));

  list.RemoveObserver(&a);
  list.RemoveObserver(&a);  // Absent: nothing happens.
  EXPECT_EQ(list.size(), 1u);
  EXPECT_FALSE(list.HasObserver(&a));
  EXPECT_EQ(Ids(list), (std::vector<int>{2}));
}

TEST(ObserverListTest, RemovalDuringIterationLeavesAHoleThatIsSkipped) {
  Observer a(1), b(2), c(3), d(4);
  ObserverList<Observer> list;
  for (Observer* o : {&a, &b, &c, &d})
    list.AddObserver(o);

  std::vector<int> seen;
  for (Observer& observer : list) {
    seen.push_back(observer.id);
    if (observer.id == 1) {
      list.RemoveObserver(&b);  // Not yet visited: skipped.
      list.RemoveObserver(&a);  // The current one.
    }
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(Ids(list), (std::vector<int>{3, 4}));
}

TEST(ObserverListTest, NestedIterationCompactsOnlyAfterTheLastIterator) {
  Observer a(1), b(2), c(3);
  ObserverList<Observer> list;
  for (Observer* o : {&a, &b, &c})
    list.AddObserver(o);

  std::vector<int> outer_seen;
  for (Observer& outer : list) {
    outer_seen.push_back(outer.id);
    if (outer.id == 1) {
      for (Observer& inner : list) {
        if (inner.id == 2)
          list.RemoveObserver(&b);
      }
      // The inner iterator is gone but the outer one still lives: the
      // hole stays and is skipped.
      EXPECT_EQ(list.size(), 2u);
    }
  }
  EXPECT_EQ(outer_seen, (std::vector<int>{1, 3}));
  EXPECT_EQ(Ids(list), (std::vector<int>{1, 3}));
}

TEST(ObserverListTest, ObserverAddedDuringIterationIsVisited) {
  Observer a(1), b(2);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  std::vector<int> seen;
  for (Observer& observer : list) {
    seen.push_back(observer.id);
    list.AddObserver(&b);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(ObserverListTest, DestroyingTheListDetachesLiveIterators) {
  Observer a(1), b(2);
  auto* list = new ObserverList<Observer>;
  list->AddObserver(&a);
  list->AddObserver(&b);
  std::vector<int> seen;
  for (Observer& observer : *list) {
    seen.push_back(observer.id);
    delete list;  // The loop then ends without touching the list.
  }
  EXPECT_EQ(seen, (std::vector<int>{1}));
}

TEST(ObserverListTest, ClearDuringIteration) {
  Observer a(1), b(2);
  ObserverList<Observer> list;
  list.AddObserver(&a);
  list.AddObserver(&b);
  std::vector<int> seen;
  for (Observer& observer : list) {
    seen.push_back(observer.id);
    list.Clear();
  }
  EXPECT_EQ(seen, (std::vector<int>{1}));
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(Ids(list).empty());
}

}  // namespace
}  // namespace kelmbase
