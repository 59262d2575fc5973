#include <gtest/gtest.h>

#include "serial_frame_reader.h"
#include "serial_port.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t mode = '0', std::uint8_t period_low = 92) {
  return {'&', '&', '&', 56, 120, 200, 65, period_low, '0', mode};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(ParseSerialSettings, AcceptsTheUsualForms) {
  EXPECT_EQ(ParseSerialSettings("9600,N,8,1"), (SerialSettings{9600, 'N', 8, 10}));
  EXPECT_EQ(ParseSerialSettings("19200,e,7,2"), (SerialSettings{19200, 'E', 7, 20}));
  EXPECT_EQ(ParseSerialSettings("2400,O,5,1.5"), (SerialSettings{2400, 'O', 5, 15}));
  EXPECT_FALSE(ParseSerialSettings(""));
  EXPECT_FALSE(ParseSerialSettings("9600,N,8"));
  EXPECT_FALSE(ParseSerialSettings("9600,X,8,1"));
  EXPECT_FALSE(ParseSerialSettings("9600,N,9,1"));
  EXPECT_FALSE(ParseSerialSettings("96x0,N,8,1"));
  EXPECT_FALSE(ParseSerialSettings("0,N,8,1"));
  EXPECT_FALSE(ParseSerialSettings("9600,N,8,3"));
  EXPECT_FALSE(ParseSerialSettings("9600,N,8,1,1"));
}

TEST(SerialFrameReader, AFrameAtTheStartIsTakenWithEverythingAfterIt) {
  SerialFrameReader reader(10);
  EXPECT_FALSE(reader.Enough(9));
  EXPECT_TRUE(reader.Enough(10));
  const Bytes waiting = Cat({Frame('1'), Frame('0'), {'&', '&', '&'}});  // 23 bytes
  auto frame = reader.Push(waiting);
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, waiting);
  EXPECT_EQ(reader.Held(), 0u);
}

TEST(SerialFrameReader, NoiseBeforeAFrameIsDropped) {
  SerialFrameReader reader(10);
  // Two noise bytes and a frame whose period byte is '2': without resynchronising, the period
  // byte would sit in the mode position and read as "the UPS is shutting down".
  const Bytes waiting = Cat({{0x13, 0x7F}, Frame('0', '2')});
  auto frame = reader.Push(waiting);
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, Frame('0', '2'));
}

TEST(SerialFrameReader, AnIncompleteFrameWaitsForTheRest) {
  SerialFrameReader reader(10);
  const Bytes whole = Cat({{0x01, 0x02}, Frame('1')});
  const Bytes first(whole.begin(), whole.begin() + 10);
  const Bytes rest(whole.begin() + 10, whole.end());
  EXPECT_FALSE(reader.Push(first));
  EXPECT_EQ(reader.Held(), 8u);
  EXPECT_EQ(reader.Missing(), 2);
  EXPECT_FALSE(reader.Enough(1));
  EXPECT_TRUE(reader.Enough(2));
  auto frame = reader.Push(rest);
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, Frame('1'));
  EXPECT_EQ(reader.Missing(), 0);
}

TEST(SerialFrameReader, BytesWithoutAHeaderGiveNothing) {
  SerialFrameReader reader(10);
  EXPECT_FALSE(reader.Push(Bytes{'2', '2', '1', '0', 0, 0xFF, 'x', 'y', '&', '&'}));
  // Only the possible start of a header is kept.
  EXPECT_EQ(reader.Held(), 2u);
  EXPECT_EQ(reader.Missing(), 0);
  // ...and it completes with the next bytes.
  auto frame = reader.Push(Bytes{'&', 56, 120, 200, 65, 92, '0', '0'});
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, Frame('0'));
}

TEST(SerialFrameReader, AFrameCutShortIsDroppedForTheWholeOneAfterIt) {
  SerialFrameReader reader(10);
  // Five bytes of a frame whose voltage low byte is '2', then the whole frame: joined, the
  // second header's bytes would land in the first frame's fields.
  const Bytes whole = {'&', '&', '&', 0x38, '2', 200, 65, 92, '0', '0'};
  Bytes waiting(whole.begin(), whole.begin() + 5);
  waiting.insert(waiting.end(), whole.begin(), whole.end());
  auto frame = reader.Push(waiting);
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, whole);

  // The same when the cut frame was held from an earlier event.
  SerialFrameReader held(10);
  EXPECT_FALSE(held.Push(Bytes{0x01, '&', '&', '&', 0x38, '2'}));
  frame = held.Push(whole);
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, whole);
}

TEST(SerialFrameReader, MixedHeaderBytesAreNoHeader) {
  SerialFrameReader reader(9);
  EXPECT_FALSE(reader.Push(Bytes{'&', '*', '&', 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_FALSE(IsFrameHeaderAt(Bytes{'&', '&', '*'}, 0));
  EXPECT_TRUE(IsFrameHeaderAt(Bytes{'*', '*', '*'}, 0));
  EXPECT_FALSE(IsFrameHeaderAt(Bytes{'*', '*'}, 0));
}

TEST(SerialFrameReader, StarFramesResynchroniseToo) {
  SerialFrameReader reader(9);
  const Bytes star = {'*', '*', '*', 0, 190, 0, 65, '0', '1'};
  auto frame = reader.Push(Cat({{'x'}, star}));
  ASSERT_TRUE(frame);
  EXPECT_EQ(*frame, star);
}

}  // namespace
}  // namespace corva
