// The device search over the machine's HID interfaces (FindHidProduct), against a made-up list
// of interfaces, and the reading of product-string buffers.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "hid_search.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A product-string buffer as the device fills it: UTF-16LE, zero-ended, the rest left as it was.
Bytes ProductBuffer(std::u16string_view name, std::uint8_t filler = 0) {
  Bytes buffer(kHidProductStringBytes, filler);
  for (std::size_t i = 0; i < name.size() && 2 * i + 1 < buffer.size(); ++i) {
    buffer[2 * i] = static_cast<std::uint8_t>(name[i] & 0xFF);
    buffer[2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
  }
  if (2 * name.size() + 1 < buffer.size()) {
    buffer[2 * name.size()] = 0;
    buffer[2 * name.size() + 1] = 0;
  }
  return buffer;
}

class FakeInterfaces : public HidInterfaceList {
 public:
  struct Interface {
    bool opens = true;
    std::optional<Bytes> product;
  };

  bool Exists(std::uint32_t index) override { return index < interfaces.size(); }
  bool Open(std::uint32_t index) override {
    EXPECT_FALSE(current) << "interface " << *current << " was neither kept nor closed";
    if (!interfaces[index].opens) return false;
    current = index;
    opened.push_back(index);
    return true;
  }
  std::optional<std::span<const std::uint8_t>> ProductString() override {
    const auto& product = interfaces[current.value()].product;
    if (!product) return std::nullopt;
    return std::span<const std::uint8_t>(*product);
  }
  void Keep() override {
    kept.push_back(current.value());
    current.reset();
  }
  void Discard() override {
    closed.push_back(current.value());
    current.reset();
  }

  void Add(std::optional<std::u16string> name, bool opens = true) {
    interfaces.push_back({opens, name ? std::optional<Bytes>(ProductBuffer(*name)) : std::nullopt});
  }

  std::vector<Interface> interfaces;
  std::optional<std::uint32_t> current;
  std::vector<std::uint32_t> opened, kept, closed;
};

// ---- the search

TEST(FindHidProduct, KeepsTheMatchingInterfaceAndClosesTheOthersOnTheWay) {
  FakeInterfaces list;
  list.Add(u"USB Keyboard");
  list.Add(u"Corvamon");
  list.Add(u"Mouse");
  EXPECT_EQ(FindHidProduct(list, "Corvamon"), 1u);
  EXPECT_EQ(list.opened, (std::vector<std::uint32_t>{0, 1}));  // the walk stops at the match
  EXPECT_EQ(list.kept, std::vector<std::uint32_t>{1});
  EXPECT_EQ(list.closed, std::vector<std::uint32_t>{0});
}

TEST(FindHidProduct, TheLowerIndexWinsWhenTwoMatch) {
  FakeInterfaces list;
  list.Add(u"Other");
  list.Add(u"Corvamon");
  list.Add(u"Corvamon");
  EXPECT_EQ(FindHidProduct(list, "Corvamon"), 1u);
  EXPECT_EQ(list.kept, std::vector<std::uint32_t>{1});
  EXPECT_EQ(list.opened.size(), 2u);
}

TEST(FindHidProduct, TheNameMustMatchExactlyAndInCase) {
  for (const std::u16string name : {u"corvamon", u"CORVAMON", u"Corvamon ", u"Corvamo", u" Corvamon",
                                    u"Corvamon2", u""}) {
    FakeInterfaces list;
    list.Add(name);
    EXPECT_EQ(FindHidProduct(list, "Corvamon"), std::nullopt)
        << std::string(name.begin(), name.end());
    EXPECT_TRUE(list.kept.empty());
    EXPECT_EQ(list.closed, std::vector<std::uint32_t>{0});
  }
}

TEST(FindHidProduct, LowerCaseFirstThenTheRightNameTakesTheRightOne) {
  FakeInterfaces list;
  list.Add(u"corvamon");
  list.Add(u"Corvamon");
  EXPECT_EQ(FindHidProduct(list, "Corvamon"), 1u);
  EXPECT_EQ(list.closed, std::vector<std::uint32_t>{0});
}

TEST(FindHidProduct, InterfacesThatDoNotOpenOrDoNotAnswerAreSkipped) {
  FakeInterfaces list;
  list.Add(u"Corvamon", /*opens=*/false);
  list.Add(std::nullopt);  // no product string
  list.Add(u"Corvamon");
  EXPECT_EQ(FindHidProduct(list, "Corvamon"), 2u);
  EXPECT_EQ(list.opened, (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(list.closed, std::vector<std::uint32_t>{1});
  EXPECT_EQ(list.kept, std::vector<std::uint32_t>{2});
}

TEST(FindHidProduct, NothingFoundLeavesNothingOpen) {
  FakeInterfaces empty;
  EXPECT_EQ(FindHidProduct(empty, "Corvamon"), std::nullopt);
  EXPECT_TRUE(empty.opened.empty());

  FakeInterfaces list;
  list.Add(u"A");
  list.Add(u"B");
  list.Add(u"C", false);
  EXPECT_EQ(FindHidProduct(list, "Corvamon"), std::nullopt);
  EXPECT_EQ(list.closed, list.opened);
  EXPECT_FALSE(list.current);
}

// ---- product-string buffers

TEST(ProductNameFromBuffer, StopsAtTheFirstZeroCharacter) {
  Bytes buffer = ProductBuffer(u"Corvamon", 'x');  // after the zero: what was there before
  EXPECT_EQ(ProductNameFromBuffer(buffer), u"Corvamon");
  // A zero byte inside a character is not the end: 'C' is 43 00.
  EXPECT_EQ(ProductNameFromBuffer(Bytes{0x43, 0x00, 0x00, 0x01, 0, 0}), u"C\u0100");
}

TEST(ProductNameFromBuffer, AFullBufferWithoutZeroIsTakenWhole) {
  const std::u16string long_name(128, u'k');
  const Bytes buffer = ProductBuffer(long_name);
  ASSERT_EQ(buffer.size(), 256u);
  EXPECT_EQ(ProductNameFromBuffer(buffer), long_name);
  // An odd last byte is half a character and is left out.
  EXPECT_EQ(ProductNameFromBuffer(Bytes{'A', 0, 'B'}), u"A");
  EXPECT_EQ(ProductNameFromBuffer(Bytes{}), u"");
}

TEST(ProductNameIs, ComparesUtf16NamesWithUtf8Products) {
  EXPECT_TRUE(ProductNameIs(u"Corvamon", "Corvamon"));
  EXPECT_FALSE(ProductNameIs(u"corvamon", "Corvamon"));
  EXPECT_TRUE(ProductNameIs(u"Energía", "Energ\xC3\xAD" "a"));
  EXPECT_FALSE(ProductNameIs(u"Energia", "Energ\xC3\xAD" "a"));
  EXPECT_TRUE(ProductNameIs(u"\U0001F50B", "\xF0\x9F\x94\x8B"));  // outside the BMP: a pair
  EXPECT_FALSE(ProductNameIs(u"", "\xC3"));                         // cut off
  EXPECT_FALSE(ProductNameIs(u"\u00ED", "\xED"));                   // Latin-1 is not UTF-8
  EXPECT_FALSE(ProductNameIs(u"/", "\xC0\xAF"));                    // overlong
  EXPECT_TRUE(ProductNameIs(u"", ""));
}

}  // namespace
}  // namespace corva
