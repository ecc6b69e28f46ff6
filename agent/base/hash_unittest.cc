#include "agent/base/hash.h"

#include <cstdint>
#include <string>

#include "gtest/gtest.h"

namespace kelmbase {
namespace {

TEST(HashTest, HashBytes64IsCityHash64) {
  const std::string inputs[] = {
      "",
      "a",
      "Kelm.ClientAuthCreds",
      std::string(33, 'x'),
      std::string(1000, '\x9c'),
  };
  for (const std::string& input : inputs) {
    EXPECT_EQ(HashBytes64(input.data(), input.size()),
              CityHash64(input.data(), input.size()))
        << input.size();
  }
  // The published value for no bytes, which is also safe with no pointer.
  EXPECT_EQ(HashBytes64(nullptr, 0), 0x9ae16a3b2f90404fULL);
}

TEST(HashTest, HashBytes64DependsOnContentAndLength) {
  const std::string text = "agent/base/task/sequence_manager.cc";
  const uint64_t full = HashBytes64(text.data(), text.size());
  EXPECT_EQ(full, HashBytes64(std::string(text).data(), text.size()));
  EXPECT_NE(full, HashBytes64(text.data(), text.size() - 1));
  std::string other = text;
  other[0] = 'b';
  EXPECT_NE(full, HashBytes64(other.data(), other.size()));
}

}  // namespace
}  // namespace kelmbase
