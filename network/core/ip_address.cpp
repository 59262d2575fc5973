#include "ip_address.h"

#include <cstdio>

namespace corva::net {

namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<std::array<std::uint8_t, 4>> ParseV4(std::string_view text) {
  std::array<std::uint8_t, 4> out{};
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    int value = 0;
    int digits = 0;
    while (!text.empty() && text.front() >= '0' && text.front() <= '9' && digits < 4) {
      value = value * 10 + (text.front() - '0');
      text.remove_prefix(1);
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    out[part] = static_cast<std::uint8_t>(value);
  }
  if (!text.empty()) return std::nullopt;
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Groups of an IPv6 address on one side of "::"; an IPv4 tail counts as two groups.
bool ParseV6Groups(std::string_view text, bool tail_allowed, std::vector<std::uint16_t>& groups) {
  if (text.empty()) return true;
  while (true) {
    const std::size_t colon = text.find(':');
    const std::string_view group = text.substr(0, colon);
    if (colon == std::string_view::npos && tail_allowed && group.find('.') != group.npos) {
      const auto v4 = ParseV4(group);
      if (!v4) return false;
      groups.push_back(static_cast<std::uint16_t>(((*v4)[0] << 8) | (*v4)[1]));
      groups.push_back(static_cast<std::uint16_t>(((*v4)[2] << 8) | (*v4)[3]));
      return true;
    }
    if (group.empty() || group.size() > 4) return false;
    unsigned value = 0;
    for (char c : group) {
      const int h = HexValue(c);
      if (h < 0) return false;
      value = value * 16 + static_cast<unsigned>(h);
    }
    groups.push_back(static_cast<std::uint16_t>(value));
    if (groups.size() > 8) return false;
    if (colon == std::string_view::npos) return true;
    text.remove_prefix(colon + 1);
  }
}

std::optional<std::array<std::uint8_t, 16>> ParseV6(std::string_view text) {
  std::vector<std::uint16_t> head, tail;
  const std::size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    if (!ParseV6Groups(text, true, head) || head.size() != 8) return std::nullopt;
  } else {
    if (text.find("::", gap + 1) != std::string_view::npos) return std::nullopt;
    if (!ParseV6Groups(text.substr(0, gap), false, head)) return std::nullopt;
    if (!ParseV6Groups(text.substr(gap + 2), true, tail)) return std::nullopt;
    if (head.size() + tail.size() > 7) return std::nullopt;
  }
  std::array<std::uint8_t, 16> out{};
  for (std::size_t i = 0; i < head.size(); ++i) {
    out[2 * i] = static_cast<std::uint8_t>(head[i] >> 8);
    out[2 * i + 1] = static_cast<std::uint8_t>(head[i] & 0xFF);
  }
  const std::size_t start = 8 - tail.size();
  for (std::size_t i = 0; i < tail.size(); ++i) {
    out[2 * (start + i)] = static_cast<std::uint8_t>(tail[i] >> 8);
    out[2 * (start + i) + 1] = static_cast<std::uint8_t>(tail[i] & 0xFF);
  }
  return out;
}

}  // namespace

IpAddress IpAddress::V4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  IpAddress ip;
  ip.bytes[0] = a;
  ip.bytes[1] = b;
  ip.bytes[2] = c;
  ip.bytes[3] = d;
  return ip;
}

IpAddress IpAddress::V6(const std::array<std::uint8_t, 16>& bytes) {
  IpAddress ip;
  ip.v6 = true;
  ip.bytes = bytes;
  return ip;
}

IpAddress IpAddress::Unmapped() const {
  if (!v6) return *this;
  for (int i = 0; i < 10; ++i) {
    if (bytes[i] != 0) return *this;
  }
  if (bytes[10] != 0xFF || bytes[11] != 0xFF) return *this;
  return V4(bytes[12], bytes[13], bytes[14], bytes[15]);
}

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  text = Trim(text);
  if (text.find(':') != std::string_view::npos) {
    if (const auto v6 = ParseV6(text)) return IpAddress::V6(*v6);
    return std::nullopt;
  }
  if (const auto v4 = ParseV4(text)) return IpAddress::V4((*v4)[0], (*v4)[1], (*v4)[2], (*v4)[3]);
  return std::nullopt;
}

std::string IpAddressText(const IpAddress& address) {
  char buffer[8];
  std::string out;
  if (!address.v6) {
    for (int i = 0; i < 4; ++i) {
      if (i > 0) out += '.';
      out += std::to_string(address.bytes[i]);
    }
    return out;
  }
  std::array<unsigned, 8> groups{};
  for (int i = 0; i < 8; ++i) groups[i] = (address.bytes[2 * i] << 8) | address.bytes[2 * i + 1];
  // The longest run of two or more zero groups becomes "::" (the first one on a tie).
  int best_start = -1, best_length = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > best_length) {
      best_start = i;
      best_length = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  for (int i = 0; i < 8; ++i) {
    if (i == best_start) {
      out += "::";
      i += best_length - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    std::snprintf(buffer, sizeof buffer, "%x", groups[i]);
    out += buffer;
  }
  return out;
}

bool CidrBlock::Contains(const IpAddress& address) const {
  if (address.v6 != base.v6) return false;
  int bits = prefix;
  for (int i = 0; bits > 0; ++i, bits -= 8) {
    const std::uint8_t mask = bits >= 8 ? 0xFF : static_cast<std::uint8_t>(0xFF << (8 - bits));
    if ((address.bytes[i] & mask) != (base.bytes[i] & mask)) return false;
  }
  return true;
}

std::optional<CidrBlock> ParseCidrBlock(std::string_view text) {
  text = Trim(text);
  const std::size_t slash = text.find('/');
  const auto address = ParseIpAddress(text.substr(0, slash));
  if (!address) return std::nullopt;
  CidrBlock block{*address, address->BitLength()};
  if (slash == std::string_view::npos) return block;
  const std::string_view digits = text.substr(slash + 1);
  if (digits.empty() || digits.size() > 3) return std::nullopt;
  int prefix = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    prefix = prefix * 10 + (c - '0');
  }
  if (prefix > address->BitLength()) return std::nullopt;
  block.prefix = prefix;
  return block;
}

bool AllowList::Allows(const IpAddress& client) const {
  if (any_client) return true;
  const IpAddress plain = client.Unmapped();
  for (const CidrBlock& network : networks) {
    if (network.Contains(plain) || network.Contains(client)) return true;
  }
  return false;
}

}  // namespace corva::net
