#include "agent/components/prefs/pref_service.h"

#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kPath[] = "old-device-certificate";

// A service over a value store whose slot 0 and slot 4 are in-memory stores,
// the user store in slot 2 and the defaults in slot 6.
class PrefServiceTest : public ::testing::Test {
 protected:
  PrefServiceTest()
      : managed_(kelmbase::MakeRefCounted<ValueMapPrefStore>()),
        user_(kelmbase::MakeRefCounted<ValueMapPrefStore>()),
        recommended_(kelmbase::MakeRefCounted<ValueMapPrefStore>()),
        service_(&value_store_, user_, &registry_) {
    value_store_.SetStore(0, managed_);
    value_store_.SetStore(2, user_);
    value_store_.SetStore(4, recommended_);
    value_store_.SetStore(6, registry_.defaults());
  }

  PrefRegistry registry_;
  PrefValueStore value_store_;
  scoped_refptr<ValueMapPrefStore> managed_;
  scoped_refptr<ValueMapPrefStore> user_;
  scoped_refptr<ValueMapPrefStore> recommended_;
  PrefService service_;
};

TEST_F(PrefServiceTest, UnregisteredPathReadsEmptyAndIgnoresWrites) {
  user_->SetValue(kPath, kelmbase::Value("stored"), 0);
  EXPECT_EQ(service_.GetString(kPath), "");
  service_.SetString("other", "x");
  EXPECT_EQ(user_->GetValue("other"), nullptr);
}

TEST_F(PrefServiceTest, UserValueOverridesDefaultAndRoundTrips) {
  registry_.RegisterPreference(kPath, kelmbase::Value(""), 0);
  EXPECT_EQ(service_.GetString(kPath), "");
  service_.SetString(kPath, "Q0VSVA==");
  EXPECT_EQ(service_.GetString(kPath), "Q0VSVA==");
  EXPECT_EQ(user_->last_write_flags(), 0u);
  service_.CommitWrites();
  EXPECT_EQ(user_->commit_count(), 1);
}

TEST_F(PrefServiceTest, WrongKindInEarlierStoreIsSkippedWithWarning) {
  registry_.RegisterPreference(kPath, kelmbase::Value(""), 0);
  managed_->SetValue(kPath, kelmbase::Value(7), 0);
  recommended_->SetValue(kPath, kelmbase::Value("from slot 4"), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(service_.GetString(kPath), "from slot 4");
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_THAT(log, HasSubstr("Expected type for old-device-certificate is "
                             "string but got integer in store 0"));
  EXPECT_THAT(log, Not(HasSubstr("in store 4")));
}

TEST_F(PrefServiceTest, WriteOfAnotherKindIsDropped) {
  registry_.RegisterPreference(kPath, kelmbase::Value(""), 0);
  service_.SetUserPrefValue(kPath, kelmbase::Value(true));
  EXPECT_EQ(user_->GetValue(kPath), nullptr);
}

TEST_F(PrefServiceTest, LossyRegistrationBecomesWriteFlag) {
  registry_.RegisterPreference(kPath, kelmbase::Value(""),
                               PrefRegistry::LOSSY_PREF);
  service_.SetString(kPath, "x");
  EXPECT_EQ(user_->last_write_flags(), PersistentPrefStore::kLossyWriteFlag);
}

}  // namespace
