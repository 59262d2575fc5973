#include "hid_search.h"

namespace corva {
namespace {

// The UTF-16 form of a UTF-8 text; nothing when the text is not well-formed UTF-8.
std::optional<std::u16string> Utf16FromUtf8(std::string_view text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t c = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07;
    } else {
      return std::nullopt;
    }
    if (i + extra >= text.size()) return std::nullopt;  // cut off
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (next & 0x3F);
    }
    const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (c < smallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += 1 + extra;
  }
  return out;
}

}  // namespace

std::u16string ProductNameFromBuffer(std::span<const std::uint8_t> buffer) {
  std::u16string name;
  for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
    const auto c = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));  // little-endian
    if (c == 0) break;
    name.push_back(c);
  }
  return name;
}

bool ProductNameIs(std::u16string_view name, std::string_view product) {
  const auto wanted = Utf16FromUtf8(product);
  return wanted && name == *wanted;
}

std::optional<std::uint32_t> FindHidProduct(HidInterfaceList& list, std::string_view product) {
  for (std::uint32_t index = 0; list.Exists(index); ++index) {
    if (!list.Open(index)) continue;
    const auto buffer = list.ProductString();
    if (buffer && ProductNameIs(ProductNameFromBuffer(*buffer), product)) {
      list.Keep();
      return index;
    }
    list.Discard();
  }
  return std::nullopt;
}

}  // namespace corva
