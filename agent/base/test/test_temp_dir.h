#ifndef AGENT_BASE_TEST_TEST_TEMP_DIR_H_
#define AGENT_BASE_TEST_TEST_TEMP_DIR_H_

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "gtest/gtest.h"

namespace kelmbase {
namespace test {

// Makes a new folder, private to the caller, named `prefix` and a unique
// suffix, inside the test framework's temporary folder (TEST_TMPDIR, else
// TMPDIR, else /tmp), so that tests leave nothing outside the folder their
// runner gave them. Returns its absolute path, or an empty string if it
// could not be made. The environment is read at the call: a test that
// changes TMPDIR makes its folder first.
inline std::string CreateTestTempDir(const std::string& prefix) {
  std::string path = testing::TempDir() + prefix + "XXXXXX";
  if (mkdtemp(path.data()) == nullptr) return std::string();
  // A relative TMPDIR must not follow a test that changes the working
  // directory.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) {
    rmdir(path.c_str());
    return std::string();
  }
  return absolute.string();
}

}  // namespace test
}  // namespace kelmbase

#endif  // AGENT_BASE_TEST_TEST_TEMP_DIR_H_
