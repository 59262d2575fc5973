// The USB link's own rules (HidUsbLink): what goes out in an output report, when nothing goes
// out, when a device counts as lost and that a lost device's handle is let go.

#include <gtest/gtest.h>

#include <vector>

#include "usb_link.h"
#include "../fakes/fake_hid.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Status = UsbRead::Status;

class UsbLinkTest : public ::testing::Test {
 protected:
  UsbRead Read(int wait_ms = 50) { return link.ReadUsbReport(buffer, wait_ms); }

  fakes::FakeHidDevice device;
  fakes::FakeDeviceErrors errors;
  fakes::FakeClock clock;
  HidUsbLink link{device, errors, clock.AsClock()};
  Bytes buffer = Bytes(12, 0);
};

// ---- writing

TEST_F(UsbLinkTest, AnEightBytePayloadGoesOutAsNineBytesBehindReportIdZero) {
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  const Bytes payload{1, 'A', 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(link.WriteUsbReport(payload));
  ASSERT_EQ(device.written.size(), 1u);
  EXPECT_EQ(device.written[0], (Bytes{0, 1, 'A', 0, 0, 0, 0, 0, 0}));
}

TEST_F(UsbLinkTest, EveryPayloadLengthUpTo254GoesOutWithOneMoreByte) {
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{253}, std::size_t{254}}) {
    Bytes payload(count);
    for (std::size_t i = 0; i < count; ++i) payload[i] = static_cast<std::uint8_t>(i + 1);
    ASSERT_TRUE(link.WriteUsbReport(payload)) << count;
    const Bytes& out = device.written.back();
    ASSERT_EQ(out.size(), count + 1) << count;
    EXPECT_EQ(out[0], 0) << count;
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out.begin() + 1)) << count;
  }
  EXPECT_TRUE(errors.messages.empty());
}

TEST_F(UsbLinkTest, A255BytePayloadIsRefusedWithTheMessageAndNothingIsSent) {
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  EXPECT_FALSE(link.WriteUsbReport(Bytes(255, 7)));
  EXPECT_EQ(errors.messages, std::vector<std::string>{"Maximum ByteCount for WriteUSBdevice is 254"});
  EXPECT_EQ(device.write_calls, 0);
}

TEST_F(UsbLinkTest, NothingIsSentWhileNoDeviceIsOpen) {
  EXPECT_FALSE(link.WriteUsbReport(Bytes{1, 'A', 0, 0, 0, 0, 0, 0}));  // never found
  device.present = false;
  EXPECT_FALSE(link.FindUsbDevice("Corvamon"));
  EXPECT_FALSE(link.WriteUsbReport(Bytes{1, 'A', 0, 0, 0, 0, 0, 0}));  // searched, not found
  device.present = true;
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  link.Close();
  EXPECT_FALSE(link.WriteUsbReport(Bytes{1, 'A', 0, 0, 0, 0, 0, 0}));  // closed
  EXPECT_EQ(device.write_calls, 0);  // the device was not even asked
  EXPECT_TRUE(errors.messages.empty());
}

// ---- searching and closing

TEST_F(UsbLinkTest, ADeviceHeldIsClosedBeforeTheNextSearch) {
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  EXPECT_EQ(device.log, (std::vector<std::string>{"open Corvamon", "close", "open Corvamon"}));
  EXPECT_EQ(device.opens, 2);
  EXPECT_EQ(device.closes, 1);
}

TEST_F(UsbLinkTest, ALostDeviceIsClosedAtOnceAndReadsAfterwardSayLost) {
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  device.Unplug();
  EXPECT_EQ(Read().status, Status::Lost);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(device.closes, 1);
  EXPECT_EQ(Read().status, Status::Lost);
  EXPECT_EQ(device.closes, 1);  // closed once
  EXPECT_EQ(device.waits.size(), 1u);  // the closed link does not touch the device
}

TEST_F(UsbLinkTest, DestroyingTheLinkClosesTheDevice) {
  {
    HidUsbLink other(device, errors, clock.AsClock());
    ASSERT_TRUE(other.FindUsbDevice("Corvamon"));
  }
  EXPECT_FALSE(device.open);
  EXPECT_EQ(device.closes, 1);
}

// ---- reading

TEST_F(UsbLinkTest, AReportComesThroughWithItsSizeAndTheWaitAskedFor) {
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  device.Play("report 00 03 26 26 26\nsilent\n");
  const UsbRead read = Read(37);
  ASSERT_EQ(read.status, Status::Report);
  EXPECT_EQ(read.size, 5u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{0, 3, 0x26, 0x26, 0x26}));
  EXPECT_EQ(Read(0).status, Status::Nothing);
  EXPECT_EQ(device.waits, (std::vector<int>{37, 0}));
}

TEST_F(UsbLinkTest, ASilentDeviceIsLostAfterTenSecondsAndNotBefore) {
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  device.Play("report 00 01 26\n");
  ASSERT_EQ(Read().status, Status::Report);
  // One read a second, as TimerUSB does; the device says nothing more.
  for (int second = 1; second <= 9; ++second) {
    clock.Advance(1000);
    ASSERT_EQ(Read().status, Status::Nothing) << "after " << second << " s";
  }
  EXPECT_TRUE(link.IsOpen());
  clock.Advance(1000);
  EXPECT_EQ(Read().status, Status::Lost);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(device.closes, 1);
}

TEST_F(UsbLinkTest, AReportStartsTheSilenceAgain) {
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  for (int second = 1; second <= 9; ++second) {
    clock.Advance(1000);
    ASSERT_EQ(Read().status, Status::Nothing);
  }
  device.Chunk({0x26});
  clock.Advance(1000);
  ASSERT_EQ(Read().status, Status::Report);
  EXPECT_EQ(link.SilenceMs(), 0u);
  for (int second = 1; second <= 9; ++second) {
    clock.Advance(1000);
    ASSERT_EQ(Read().status, Status::Nothing) << "after " << second << " s";
  }
  clock.Advance(1000);
  EXPECT_EQ(Read().status, Status::Lost);
}

TEST_F(UsbLinkTest, ALongGapBetweenReadsCountsAsTwoSecondsOfSilence) {
  // The computer slept for an hour: the first read after it is not taken for ten silent seconds.
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  ASSERT_EQ(Read().status, Status::Nothing);
  clock.Advance(3600 * 1000);
  EXPECT_EQ(Read().status, Status::Nothing);
  EXPECT_EQ(link.SilenceMs(), 2000u);
  // Eight more silent seconds still make it lost.
  for (int second = 1; second <= 7; ++second) {
    clock.Advance(1000);
    ASSERT_EQ(Read().status, Status::Nothing);
  }
  clock.Advance(1000);
  EXPECT_EQ(Read().status, Status::Lost);
}

TEST_F(UsbLinkTest, ASearchStartsTheSilenceAgain) {
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  for (int second = 1; second <= 9; ++second) {
    clock.Advance(1000);
    ASSERT_EQ(Read().status, Status::Nothing);
  }
  ASSERT_TRUE(link.FindUsbDevice("Corvamon"));
  EXPECT_EQ(link.SilenceMs(), 0u);
  clock.Advance(5000);  // the first read after a search has nothing to measure from
  EXPECT_EQ(Read().status, Status::Nothing);
  EXPECT_EQ(link.SilenceMs(), 0u);
}

TEST_F(UsbLinkTest, TheReplayTextRefusesWhatItDoesNotKnow) {
  EXPECT_THROW(device.Play("reprot 00 01 26\n"), std::invalid_argument);
  device.Play("# comment\n\nreport 00 01 ff\nsilent\nunplug\n");
  ASSERT_EQ(device.replay.size(), 3u);
  EXPECT_EQ(device.replay[0].bytes, (Bytes{0, 1, 0xFF}));
}

}  // namespace
}  // namespace corva
