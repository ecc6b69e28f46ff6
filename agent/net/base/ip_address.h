#ifndef AGENT_NET_BASE_IP_ADDRESS_H_
#define AGENT_NET_BASE_IP_ADDRESS_H_

// IPv4 and IPv6 addresses as name constraints see them, and the bit-prefix
// arithmetic that matches an address against a permitted or excluded range.
//
// Addresses are plain values: 16 inline bytes and a size (4 for IPv4, 16 for
// IPv6, 0 for a default-constructed address). Nothing here allocates, logs or
// touches shared state; any thread may use any function.

#include <cstddef>
#include <cstdint>

namespace net {

// A fixed 16-byte buffer of which the first `size()` bytes are meaningful.
class IPAddressBytes {
 public:
  IPAddressBytes() = default;
  IPAddressBytes(const uint8_t* data, size_t data_len) {
    Assign(data, data_len);
  }

  // Copies `data_len` bytes and makes that the size. A length above 16 is a
  // programming error and a fatal check.
  void Assign(const uint8_t* data, size_t data_len);

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const uint8_t* data() const { return bytes_; }
  uint8_t operator[](size_t i) const { return bytes_[i]; }
  const uint8_t* begin() const { return bytes_; }
  const uint8_t* end() const { return bytes_ + size_; }

  bool operator==(const IPAddressBytes& other) const;
  bool operator!=(const IPAddressBytes& other) const {
    return !(*this == other);
  }

 private:
  uint8_t bytes_[16] = {};
  uint8_t size_ = 0;
};

class IPAddress {
 public:
  static constexpr size_t kIPv4AddressSize = 4;
  static constexpr size_t kIPv6AddressSize = 16;

  // The empty address (size 0).
  IPAddress() = default;
  // Copies `address_len` bytes (at most 16, checked).
  IPAddress(const uint8_t* address, size_t address_len)
      : ip_address_(address, address_len) {}
  // The IPv4 address b0.b1.b2.b3.
  IPAddress(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);

  bool IsIPv4() const { return ip_address_.size() == kIPv4AddressSize; }
  bool IsIPv6() const { return ip_address_.size() == kIPv6AddressSize; }
  bool empty() const { return ip_address_.empty(); }
  size_t size() const { return ip_address_.size(); }
  const IPAddressBytes& bytes() const { return ip_address_; }

  bool operator==(const IPAddress& other) const {
    return ip_address_ == other.ip_address_;
  }
  bool operator!=(const IPAddress& other) const { return !(*this == other); }

 private:
  IPAddressBytes ip_address_;
};

// The IPv4-mapped IPv6 form of an IPv4 address (::ffff:a.b.c.d, RFC 4291).
// `address` must be IPv4.
IPAddress MapIPv4ToIPv6(const IPAddress& address);

// Whether the first `prefix_length_in_bits` bits of `a` and `b` are equal.
// The caller keeps the bit count within the shorter of the two.
bool PrefixBitsEqual(const IPAddressBytes& a, const IPAddressBytes& b,
                     size_t prefix_length_in_bits);

// Whether `address` lies in `prefix`/`prefix_length_in_bits`. When one side is
// IPv4 and the other is not, the IPv4 side is compared in its IPv4-mapped
// IPv6 form: a mapped address keeps the prefix length, a mapped prefix has 96
// bits added to it. Addresses of any other unequal sizes do not match.
bool AddressMatchesPrefix(const IPAddress& address, const IPAddress& prefix,
                          size_t prefix_length_in_bits);

// The number of leading bits in which two addresses of the same size agree;
// size * 8 when they are equal.
size_t CommonPrefixBits(const IPAddress& a, const IPAddress& b);

// The length of the leading run of one bits of `mask`. Whether the bits after
// that run are all zero is the caller's question: 255.255.0.255 gives 16.
size_t MaskPrefixBits(const IPAddress& mask);

}  // namespace net

#endif  // AGENT_NET_BASE_IP_ADDRESS_H_
