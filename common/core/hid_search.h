#pragma once
// The search for a HID device by its product string, over the machine's list of HID
// interfaces. The Windows side (AccessIODevice) walks the real list; tests walk their own.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corva {

// The product string is read into a buffer of this many bytes: UTF-16, ended by a zero
// character unless it fills the buffer.
inline constexpr std::size_t kHidProductStringBytes = 256;

// The machine's HID interfaces, one index after another.
class HidInterfaceList {
 public:
  virtual ~HidInterfaceList() = default;
  // Whether there is an interface at `index`; the first index without one ends the search.
  virtual bool Exists(std::uint32_t index) = 0;
  // Opens the interface at `index` for reading and writing. False when it cannot be opened
  // (a keyboard the system keeps to itself, say); the search then goes on with the next.
  virtual bool Open(std::uint32_t index) = 0;
  // The product-string buffer of the interface opened last (kHidProductStringBytes bytes), or
  // nothing when the device does not answer.
  virtual std::optional<std::span<const std::uint8_t>> ProductString() = 0;
  // The interface opened last stays open (it is the one wanted), or is closed.
  virtual void Keep() = 0;
  virtual void Discard() = 0;
};

// The name in a product-string buffer: the UTF-16 characters before the first zero character.
std::u16string ProductNameFromBuffer(std::span<const std::uint8_t> buffer);

// Whether `name` is exactly `product` (UTF-8): same characters, same case.
bool ProductNameIs(std::u16string_view name, std::string_view product);

// Opens interfaces 0, 1, 2... and keeps the first whose product name is exactly `product`;
// every other interface opened on the way is closed again. Answers the index kept.
std::optional<std::uint32_t> FindHidProduct(HidInterfaceList& list, std::string_view product);

}  // namespace corva
