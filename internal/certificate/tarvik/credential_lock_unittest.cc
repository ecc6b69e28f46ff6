#include "internal/certificate/tarvik/credential_lock.h"

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "internal/certificate/test/client_auth_test_util.h"

namespace vantorel {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr kelmbase::Duration kShortWait =
    kelmbase::Duration::FromMilliseconds(100);

TEST(CredentialLockTest, LockFileLiesBesideTheKey) {
  EXPECT_EQ(CredentialLock::LockFilePath("/a/b/client.key.bin"),
            "/a/b/.tarvik.lock");
  EXPECT_EQ(CredentialLock::LockFilePath("key.bin"), ".tarvik.lock");
}

// Readers share the lock; a writer excludes everyone and is excluded by
// everyone, until the holder lets go. Each CredentialLock stands for one
// run: locks are per open file, so they exclude each other within one
// process just as between processes.
TEST(CredentialLockTest, SharedAndExclusive) {
  test::ScopedTempDir dir;
  const std::string key = dir.path() + "/client.key.bin";
  using Mode = CredentialLock::Mode;
  {
    CredentialLock first_reader;
    CredentialLock second_reader;
    ASSERT_TRUE(first_reader.Acquire(key, Mode::kShared, kShortWait));
    EXPECT_TRUE(second_reader.Acquire(key, Mode::kShared, kShortWait));
    CredentialLock writer;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writer.Acquire(key, Mode::kExclusive, kShortWait));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(writer.held());
    EXPECT_EQ(log[0], 'E') << log;
    EXPECT_THAT(log, HasSubstr("] CredentialLock: another tarvik run holds " +
                               dir.path() +
                               "/.tarvik.lock; gave up after "
                               "0.1 seconds.\n"));
  }
  auto writer = std::make_unique<CredentialLock>();
  ASSERT_TRUE(writer->Acquire(key, Mode::kExclusive, kShortWait));
  EXPECT_TRUE(writer->held());
  for (Mode mode : {Mode::kShared, Mode::kExclusive}) {
    CredentialLock other;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(other.Acquire(key, mode, kShortWait));
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("gave up after"));
  }
  // The lock file stays for the next run; only the lock goes.
  writer.reset();
  struct stat info;
  ASSERT_EQ(stat((dir.path() + "/.tarvik.lock").c_str(), &info), 0);
  // umask() only answers by setting: the process's mask is put back at once.
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0644 & ~static_cast<unsigned>(mask));
  CredentialLock next;
  EXPECT_TRUE(next.Acquire(key, Mode::kExclusive, kShortWait));
}

// A reader in a folder that is not there needs no lock; a writer must have
// one, and refuses a lock file that is not a regular file of its own.
TEST(CredentialLockTest, MissingFolderAndForeignLockFile) {
  test::ScopedTempDir dir;
  using Mode = CredentialLock::Mode;
  const std::string missing = dir.path() + "/none/client.key.bin";
  CredentialLock reader;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(reader.AcquireIfWritable(missing, Mode::kShared, kShortWait));
  EXPECT_THAT(testing::internal::GetCapturedStderr(), IsEmpty());
  EXPECT_FALSE(reader.held());

  CredentialLock writer;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.Acquire(missing, Mode::kExclusive, kShortWait));
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("] CredentialLock: cannot open " + dir.path() +
                        "/none/.tarvik.lock: No such file or directory\n"));

  const std::string folder = dir.path() + "/folder";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(mkdir((folder + "/.tarvik.lock").c_str(), 0700), 0);
  const std::string linked = dir.path() + "/linked";
  ASSERT_EQ(mkdir(linked.c_str(), 0700), 0);
  dir.Write("target", "");
  ASSERT_EQ(symlink((dir.path() + "/target").c_str(),
                    (linked + "/.tarvik.lock").c_str()),
            0);
  for (const std::string& key : {folder + "/k", linked + "/k"}) {
    CredentialLock refused;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(refused.Acquire(key, Mode::kExclusive, kShortWait)) << key;
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("] CredentialLock: "))
        << key;
    EXPECT_FALSE(refused.held());
  }
}

}  // namespace
}  // namespace vantorel
