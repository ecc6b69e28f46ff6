#include "agent/base/supports_user_data.h"

#include <memory>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

const char kKeyA = 0;
const char kKeyB = 0;

// Records its destruction and what its owner held at that moment.
class RecordingData : public SupportsUserData::Data {
 public:
  RecordingData(std::vector<int>* log, int id, SupportsUserData* owner)
      : log_(log), id_(id), owner_(owner) {}
  ~RecordingData() override {
    log_->push_back(id_);
    if (owner_) {
      owner_saw_a_ = owner_->GetUserData(&kKeyA) != nullptr;
      owner_saw_b_ = owner_->GetUserData(&kKeyB) != nullptr;
      if (owner_saw_a_ || owner_saw_b_) log_->push_back(-1);
    }
  }

 private:
  std::vector<int>* log_;
  int id_;
  SupportsUserData* owner_;
  bool owner_saw_a_ = false;
  bool owner_saw_b_ = false;
};

TEST(SupportsUserDataTest, SetGetRemove) {
  std::vector<int> log;
  SupportsUserData holder;
  EXPECT_EQ(holder.GetUserData(&kKeyA), nullptr);

  auto data = std::make_unique<RecordingData>(&log, 1, nullptr);
  SupportsUserData::Data* raw = data.get();
  holder.SetUserData(&kKeyA, std::move(data));
  EXPECT_EQ(holder.GetUserData(&kKeyA), raw);
  EXPECT_EQ(holder.GetUserData(&kKeyB), nullptr);

  // Replacing destroys the old data.
  holder.SetUserData(&kKeyA, std::make_unique<RecordingData>(&log, 2, nullptr));
  EXPECT_EQ(log, std::vector<int>{1});

  holder.RemoveUserData(&kKeyA);
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  EXPECT_EQ(holder.GetUserData(&kKeyA), nullptr);
  holder.RemoveUserData(&kKeyA);  // nothing there: no effect

  holder.SetUserData(&kKeyB, std::make_unique<RecordingData>(&log, 3, nullptr));
  holder.SetUserData(&kKeyB, nullptr);
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));
}

TEST(SupportsUserDataTest, DestructionEmptiesTheMapFirst) {
  std::vector<int> log;
  {
    auto holder = std::make_unique<SupportsUserData>();
    holder->SetUserData(&kKeyA,
                        std::make_unique<RecordingData>(&log, 1, holder.get()));
    holder->SetUserData(&kKeyB,
                        std::make_unique<RecordingData>(&log, 2, holder.get()));
  }
  // Both destroyed, neither saw any data left in its owner.
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0], -1);
  EXPECT_NE(log[1], -1);
}

TEST(SupportsUserDataTest, MoveTakesTheData) {
  std::vector<int> log;
  SupportsUserData source;
  source.SetUserData(&kKeyA, std::make_unique<RecordingData>(&log, 1, nullptr));
  SupportsUserData::Data* raw = source.GetUserData(&kKeyA);

  SupportsUserData moved(std::move(source));
  EXPECT_EQ(moved.GetUserData(&kKeyA), raw);
  EXPECT_EQ(source.GetUserData(&kKeyA), nullptr);  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(log.empty());

  SupportsUserData target;
  target.SetUserData(&kKeyB, std::make_unique<RecordingData>(&log, 2, nullptr));
  target = std::move(moved);
  EXPECT_EQ(log, std::vector<int>{2});  // the target's old data died
  EXPECT_EQ(target.GetUserData(&kKeyA), raw);
  EXPECT_EQ(moved.GetUserData(&kKeyA), nullptr);  // NOLINT(bugprone-use-after-move)
}

}  // namespace
}  // namespace kelmbase
