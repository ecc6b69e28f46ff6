#ifndef AGENT_BASE_TIME_TOKEN_H_
#define AGENT_BASE_TIME_TOKEN_H_

#include <cstdint>
#include <string>

namespace kelmbase {

// A 128-bit identifier held as two 64-bit words, high then low.
class Token {
 public:
  constexpr Token() = default;
  constexpr Token(uint64_t high, uint64_t low) : high_(high), low_(low) {}

  constexpr uint64_t high() const { return high_; }
  constexpr uint64_t low() const { return low_; }
  constexpr bool is_zero() const { return high_ == 0 && low_ == 0; }

  // 32 upper-case hexadecimal digits: the high word, then the low word,
  // each zero-padded to 16.
  std::string ToString() const;

  constexpr bool operator==(const Token& other) const = default;
  constexpr auto operator<=>(const Token& other) const = default;

 private:
  uint64_t high_ = 0;
  uint64_t low_ = 0;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_TIME_TOKEN_H_
