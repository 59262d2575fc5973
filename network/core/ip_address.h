#pragma once
// Addresses and networks of the followers: IPv4 and IPv6 addresses read from text or taken from a
// socket, CIDR networks ("192.168.1.0/24", "::1/128") and the list of networks allowed in.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corva::net {

struct IpAddress {
  bool v6 = false;
  // Network byte order; an IPv4 address uses the first 4 bytes and leaves the rest zero.
  std::array<std::uint8_t, 16> bytes{};

  static IpAddress V4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
  static IpAddress V6(const std::array<std::uint8_t, 16>& bytes);
  int BitLength() const { return v6 ? 128 : 32; }
  // An IPv6 address of the form ::ffff:a.b.c.d answers its IPv4 address; any other answers itself.
  IpAddress Unmapped() const;
  bool operator==(const IpAddress&) const = default;
};

// "a.b.c.d" (four decimal parts 0..255) or an IPv6 address in any of its text forms ("::1",
// "fe80::1:2", "::ffff:10.0.0.1"); blanks around it are ignored. Nothing for anything else.
std::optional<IpAddress> ParseIpAddress(std::string_view text);

// The address as clients and logs write it: dotted IPv4, or IPv6 with the longest run of zero
// groups written "::".
std::string IpAddressText(const IpAddress& address);

// A network: its first `prefix` bits.
struct CidrBlock {
  IpAddress base;
  int prefix = 0;
  bool Contains(const IpAddress& address) const;
};

// "address/prefix" (prefix 0..32 for IPv4, 0..128 for IPv6) or a bare address (one host).
std::optional<CidrBlock> ParseCidrBlock(std::string_view text);

// The networks whose clients may connect. An empty list with `any_client` lets every client in.
struct AllowList {
  bool any_client = true;
  std::vector<CidrBlock> networks;
  // IPv4 clients reaching an IPv6 socket (::ffff:a.b.c.d) are matched as IPv4.
  bool Allows(const IpAddress& client) const;
};

}  // namespace corva::net
