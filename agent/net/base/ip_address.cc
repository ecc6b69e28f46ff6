#include "agent/net/base/ip_address.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "logging/check.h"

namespace net {

namespace {

constexpr uint8_t kIPv4MappedPrefix[] = {0, 0, 0, 0, 0,    0,
                                         0, 0, 0, 0, 0xFF, 0xFF};

}  // namespace

void IPAddressBytes::Assign(const uint8_t* data, size_t data_len) {
  CHECK_GE(16u, data_len);
  size_ = static_cast<uint8_t>(data_len);
  if (data_len > 0) std::memcpy(bytes_, data, data_len);
}

bool IPAddressBytes::operator==(const IPAddressBytes& other) const {
  return size_ == other.size_ && std::equal(begin(), end(), other.begin());
}

IPAddress::IPAddress(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  const uint8_t bytes[] = {b0, b1, b2, b3};
  ip_address_.Assign(bytes, sizeof(bytes));
}

IPAddress MapIPv4ToIPv6(const IPAddress& address) {
  uint8_t mapped[IPAddress::kIPv6AddressSize];
  std::memcpy(mapped, kIPv4MappedPrefix, sizeof(kIPv4MappedPrefix));
  std::memcpy(mapped + sizeof(kIPv4MappedPrefix), address.bytes().data(),
              IPAddress::kIPv4AddressSize);
  return IPAddress(mapped, sizeof(mapped));
}

bool PrefixBitsEqual(const IPAddressBytes& a, const IPAddressBytes& b,
                     size_t prefix_length_in_bits) {
  // Callers stay within the addresses; a longer prefix cannot be equal bits
  // of both, and reading on would leave the meaningful bytes.
  if (prefix_length_in_bits > a.size() * 8 ||
      prefix_length_in_bits > b.size() * 8) {
    return false;
  }
  const size_t whole_bytes = prefix_length_in_bits / 8;
  const size_t extra_bits = prefix_length_in_bits % 8;
  if (!std::equal(a.begin(), a.begin() + whole_bytes, b.begin())) return false;
  if (extra_bits == 0) return true;
  const uint8_t differing = a[whole_bytes] ^ b[whole_bytes];
  return (differing >> (8 - extra_bits)) == 0;
}

bool AddressMatchesPrefix(const IPAddress& address, const IPAddress& prefix,
                          size_t prefix_length_in_bits) {
  if (address.size() == prefix.size()) {
    return PrefixBitsEqual(address.bytes(), prefix.bytes(),
                           prefix_length_in_bits);
  }
  if (address.IsIPv4() && prefix.IsIPv6()) {
    return PrefixBitsEqual(MapIPv4ToIPv6(address).bytes(), prefix.bytes(),
                           prefix_length_in_bits);
  }
  if (prefix.IsIPv4() && address.IsIPv6()) {
    return PrefixBitsEqual(address.bytes(), MapIPv4ToIPv6(prefix).bytes(),
                           prefix_length_in_bits + 96);
  }
  return false;
}

size_t CommonPrefixBits(const IPAddress& a, const IPAddress& b) {
  // Callers pass equal sizes; the shorter bound keeps to meaningful bytes.
  const size_t size = std::min(a.size(), b.size());
  for (size_t i = 0; i < size; ++i) {
    const uint8_t differing = a.bytes()[i] ^ b.bytes()[i];
    if (differing != 0) return i * 8 + std::countl_zero(differing);
  }
  return size * 8;
}

size_t MaskPrefixBits(const IPAddress& mask) {
  uint8_t all_ones[IPAddress::kIPv6AddressSize];
  std::memset(all_ones, 0xFF, sizeof(all_ones));
  return CommonPrefixBits(mask, IPAddress(all_ones, mask.size()));
}

}  // namespace net
