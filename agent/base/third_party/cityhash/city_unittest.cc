#include "agent/base/third_party/cityhash/city.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "absl/hash/internal/city.h"
#include "gtest/gtest.h"

namespace kelmbase {
namespace {

// The pseudo-random bytes of the reference test suite of CityHash: a fixed
// recurrence, so every implementation hashes the same input.
std::vector<char> MakeReferenceData(size_t size) {
  constexpr uint64_t k0 = 0xc3a5c85c97cb3127ULL;
  std::vector<char> data(size);
  uint64_t a = 9;
  uint64_t b = 777;
  for (size_t i = 0; i < size; ++i) {
    a += b;
    b += a;
    a = (a ^ (a >> 41)) * k0;
    b = (b ^ (b >> 41)) * k0 + i;
    data[i] = static_cast<char>(static_cast<uint8_t>(b >> 37));
  }
  return data;
}

TEST(CityHashTest, EmptyInputHashesToTheThirdConstant) {
  EXPECT_EQ(CityHash64("", 0), 0x9ae16a3b2f90404fULL);
  // The pointer is not read for an empty input.
  EXPECT_EQ(CityHash64(nullptr, 0), 0x9ae16a3b2f90404fULL);
}

// Rows of the version 1.1 reference suite: the hash of `length` bytes
// starting at offset length * length of the reference data.
TEST(CityHashTest, MatchesPublishedVersion11Values) {
  struct Case {
    size_t length;
    uint64_t expected;
  };
  const Case kCases[] = {
      {0, 0x9ae16a3b2f90404fULL},   {1, 0x541150e87f415e96ULL},
      {2, 0x0f3786a4b25827c1ULL},   {3, 0xef923a7a1af78eabULL},
      {4, 0x11df592596f41d88ULL},   {5, 0x831f448bdc5600b3ULL},
      {6, 0x3eca803e70304894ULL},   {7, 0x1b5a063fb4c7f9f1ULL},
      {8, 0xa0f10149a0e538d6ULL},   {12, 0xe3f6828b6017086dULL},
      {16, 0x03ead5f21d344056ULL},  {17, 0x6abbfde37ee03b5bULL},
      {25, 0x0dc78cb032c49217ULL},  {32, 0x0782fa1b08b475e7ULL},
      {33, 0xc5dc19b876d37a80ULL},  {50, 0x9a87bea227491d20ULL},
      {64, 0xe88419922b87176fULL},  {65, 0x105191e0ec8f7f60ULL},
      {100, 0x6369163565814de6ULL}, {128, 0xb2e23e8116c2ba9fULL},
      {129, 0x8aa77f52d7868eb9ULL}, {200, 0x07fc98006e25cac9ULL},
      {299, 0x76a01ca05ae918b5ULL},
  };
  const std::vector<char> data = MakeReferenceData(1 << 20);
  for (const Case& c : kCases) {
    EXPECT_EQ(CityHash64(data.data() + c.length * c.length, c.length),
              c.expected)
        << "length " << c.length;
  }
}

// Every length class (0-16 with its 1-3, 4-7 and 8-16 branches, 17-32,
// 33-64, and the chunked path with one, several and a partial last chunk)
// agrees with an independent implementation of the same version.
TEST(CityHashTest, MatchesReferenceImplementationForEveryLengthClass) {
  const std::vector<char> data = MakeReferenceData(1 << 12);
  for (size_t offset : {0u, 1u, 7u, 100u}) {
    for (size_t length = 0; length <= 300; ++length) {
      const char* p = data.data() + offset;
      EXPECT_EQ(CityHash64(p, length),
                absl::hash_internal::CityHash64(p, length))
          << "offset " << offset << " length " << length;
    }
  }
  for (size_t length : {511u, 512u, 513u, 1000u, 4000u}) {
    EXPECT_EQ(CityHash64(data.data(), length),
              absl::hash_internal::CityHash64(data.data(), length))
        << "length " << length;
  }
}

TEST(CityHashTest, LongInputMatchesReference) {
  const std::vector<char> data = MakeReferenceData(1 << 20);
  EXPECT_EQ(CityHash64(data.data(), data.size()),
            absl::hash_internal::CityHash64(data.data(), data.size()));
}

TEST(CityHashTest, EveryByteOfTheInputMatters) {
  // Flipping one bit anywhere changes the hash: no byte is skipped by the
  // overlapping reads of the short classes or the chunk loop.
  for (size_t length : {3u, 5u, 12u, 20u, 40u, 64u, 65u, 130u}) {
    std::string text(length, 'x');
    const uint64_t original = CityHash64(text.data(), text.size());
    for (size_t i = 0; i < length; ++i) {
      std::string changed = text;
      changed[i] ^= 0x01;
      EXPECT_NE(CityHash64(changed.data(), changed.size()), original)
          << "length " << length << " byte " << i;
    }
  }
}

TEST(CityHashTest, ReadsOnlyTheGivenBytes) {
  // The same bytes inside different surroundings hash the same.
  const std::string a = "prefix-Kelm.Histogram.Name-suffix";
  const std::string b = "######Kelm.Histogram.Name@@@@@@@";
  EXPECT_EQ(CityHash64(a.data() + 7, 19), CityHash64(b.data() + 6, 19));
}

}  // namespace
}  // namespace kelmbase
