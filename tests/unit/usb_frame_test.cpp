// The main window on the USB link: frames assembled from the device's reports, the bounds of a
// TimerUSB tick, a lost device and its return. The device is a FakeHidDevice behind the real
// link rules (fakes::FakeUsb); time is the fake clock, moved a second per tick.

#include <gtest/gtest.h>

#include <numeric>
#include <stdexcept>

#include "principal.h"
#include "usb_frame_assembler.h"
#include "../fakes/monitor_rig.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kLostBalloon[] = "1|Corvamon| Equipo BRAX Desconectado ";
constexpr char kBackBalloon[] = "1|Corvamon| Equipo BRAX Conectado nuevamente ";

// A 10-byte frame: voltage reading 14400, battery byte, period 16667 (60 Hz), line, mode.
Bytes Frame(std::uint8_t mode, std::uint8_t battery = 200, std::uint8_t header = '&') {
  return {header, header, header, 56, 120, battery, 65, 92, '0', mode};
}
Bytes Part(const Bytes& bytes, std::size_t first, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(first),
               bytes.begin() + static_cast<std::ptrdiff_t>(first + count));
}

class UsbFrameTest : public ::testing::Test, protected fakes::MonitorRig {
 protected:
  UsbFrameTest() {
    ini.Set("Inicio", "DataString", "&&&10");
    ini.Set("Prefs", "NotifAviso", "1");
    ini.Set("Prefs", "MostrarMute", "1");
    ini.Set("Prefs", "AlarmaConSonido", "1");
    ini.Set("Apaga", "ApagaDesconexionSegundos", "30");
    usb.present = true;
  }
  void Load() { principal.Load("C:\\Corvamon"); }
  // One TimerUSB tick, a second after the last one.
  void Tick() {
    usb.clock.Advance(1000);
    principal.OnTimer(Timer::TimerUSB);
  }
  // The waits of the reads of one tick.
  std::vector<int> TickWaits() {
    const std::size_t before = usb.waits.size();
    Tick();
    return std::vector<int>(usb.waits.begin() + static_cast<std::ptrdiff_t>(before),
                            usb.waits.end());
  }
  // Ticks until the link is found lost, at most `limit` times; answers how many it took.
  int TicksUntilLost(int limit) {
    for (int i = 1; i <= limit; ++i) {
      Tick();
      if (principal.UsbDisconnected()) return i;
    }
    return -1;
  }
  bool Timer(Timer t) const { return view.TimerEnabled(t); }

  Principal principal{Ports()};
};

// ---- start-up and commands

TEST_F(UsbFrameTest, AtStartTheDeviceIsFoundAndTheCommandsReachItAsNineBytes) {
  Load();
  EXPECT_EQ(usb.searches, std::vector<std::string>{"Corvamon"});
  EXPECT_TRUE(principal.UsbMode());
  EXPECT_TRUE(principal.UsbOpen());
  EXPECT_TRUE(Timer(Timer::TimerUSB));
  EXPECT_FALSE(Timer(Timer::TimerBuscaUSB));
  EXPECT_EQ(view.link, LinkPicture::Usb);
  EXPECT_FALSE(MSComm1.open);
  // The alarm command of the start-up comes before the search: asked for, not sent.
  ASSERT_EQ(usb.reports.size(), 1u);
  EXPECT_TRUE(usb.device.written.empty());

  principal.IBMute_Click();
  principal.ImgMainBat_DblClick();
  EXPECT_EQ(usb.device.written,
            (std::vector<Bytes>{{0, 1, 'a', 0, 0, 0, 0, 0, 0}, {0, 1, '~', 0, 0, 0, 0, 0, 0}}));
  EXPECT_TRUE(usb.errors.messages.empty());
}

TEST_F(UsbFrameTest, OnTheSerialLinkTheCommandsAreAskedForAndNothingIsSent) {
  usb.present = false;
  Load();
  ASSERT_FALSE(principal.UsbOpen());
  principal.IBMute_Click();
  principal.ImgMainBat_DblClick();
  EXPECT_EQ(usb.reports.size(), 3u);  // start-up alarm, the click, the self-test
  EXPECT_EQ(usb.device.write_calls, 0);
  EXPECT_TRUE(usb.errors.messages.empty());
  EXPECT_TRUE(view.messages.empty());
}

// ---- assembling frames

TEST_F(UsbFrameTest, AFrameInOneReportIsShownInTheSameTick) {
  Load();
  usb.device.Chunk(Frame('0'));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), Frame('0'));
  EXPECT_EQ(view.Text(Control::lblvolt), "121.2 Volts");
  EXPECT_EQ(view.Text(Control::lblbat), "80.00 %");
  EXPECT_EQ(principal.FramePos(), 1);
}

TEST_F(UsbFrameTest, AFrameSplitSevenAndThreeIsJoined) {
  Load();
  const Bytes frame = Frame('0', 190);
  usb.device.Chunk(Part(frame, 0, 7));
  usb.device.Chunk(Part(frame, 7, 3));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), frame);

  // The same split across two ticks: shown when the last part comes, not before.
  const Bytes next = Frame('0', 150);
  usb.device.Chunk(Part(next, 0, 7));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.FramePos(), 8);
  usb.device.Chunk(Part(next, 7, 3));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 2u);
  EXPECT_EQ(principal.LastFrame(), next);
}

TEST_F(UsbFrameTest, ReportsThatDoNotStartAFrameAreLeftOutBetweenFrames) {
  Load();
  usb.device.Chunk({'0', '0', 0x41});  // the tail of a frame missed before
  usb.device.Chunk({0x00});
  usb.device.Chunk(Frame('0'));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), Frame('0'));
}

TEST_F(UsbFrameTest, ABadHeaderIsDroppedAndTheNextFrameIsReadInStep) {
  Load();
  Bytes bad = Frame('1');
  bad[2] = 0x41;  // 0x26 0x26 0x41
  usb.device.Chunk(bad);
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 0u);
  EXPECT_EQ(principal.FramePos(), 1);
  EXPECT_FALSE(principal.OnBattery());  // its '1' was never read

  usb.device.Chunk(Frame('0'));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), Frame('0'));
}

TEST_F(UsbFrameTest, AHeaderBrokenAcrossReportsStartsAgainFromTheReportThatBrokeIt) {
  Load();
  // "&&" then a report going on with 'A': out of step, and 'A' cannot start a frame.
  usb.device.Chunk({0x26, 0x26});
  usb.device.Chunk({0x41, 56, 120, 200, 65, 92, '0', '1'});
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 0u);
  EXPECT_EQ(principal.FramePos(), 1);
  EXPECT_EQ(Bytes(principal.FrameBuffer().begin() + 1, principal.FrameBuffer().begin() + 11),
            Bytes(10, 0));

  // "&" then a whole 0xFF frame: the frame is taken from the report that broke the header.
  usb.device.Chunk({0x26});
  usb.device.Chunk(Frame('0', 200, 0xFF));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), Frame('0', 200, 0xFF));
}

TEST_F(UsbFrameTest, AHeaderMayComeAByteAtATime) {
  Load();
  const Bytes frame = Frame('0');
  usb.device.Chunk(Part(frame, 0, 1));
  usb.device.Chunk(Part(frame, 1, 1));
  usb.device.Chunk(Part(frame, 2, 8));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), frame);
}

TEST_F(UsbFrameTest, FFHeadersAreFramesAndMixedHeadersAreNot) {
  Load();
  usb.device.Chunk(Frame('0', 100, 0xFF));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), Frame('0', 100, 0xFF));
  EXPECT_EQ(view.Text(Control::lblvolt), "121.2 Volts");

  Bytes mixed = Frame('1');
  mixed[1] = 0xFF;  // 0x26 0xFF 0x26
  usb.device.Chunk(mixed);
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_FALSE(principal.OnBattery());
}

// Fault: a count byte larger than the report carries, or than FrameBuffer has room for, copied
// bytes from past the report into past the buffer.
TEST_F(UsbFrameTest, ACountByteLargerThanTheReportCarriesIsNotTaken) {
  Load();
  Bytes report{0, 11};  // eleven announced, ten carried (the chunk holds FrameLength + 1)
  const Bytes frame = Frame('1');
  report.insert(report.end(), frame.begin(), frame.end());
  usb.device.Report(report);
  usb.device.Report({0, 200, 0x26, 0x26, 0x26, 1, 2, 3});
  usb.device.Report({0, 10, 0x26, 0x26, 0x26});  // the rest of the report never came
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 0u);
  EXPECT_EQ(principal.FramePos(), 1);
  EXPECT_FALSE(principal.OnBattery());

  usb.device.Chunk(Frame('0'));
  Tick();
  EXPECT_EQ(principal.LastFrame(), Frame('0'));
}

// Fault: a frame cut short took the next frame's report as its tail, and read its mode from the
// new frame's voltage byte: a '2' there shut the computer down.
TEST_F(UsbFrameTest, AFrameCutShortIsNeverSplicedToTheNextOne) {
  Bytes next = Frame('0');
  next[3] = '2';  // voltage high byte: the mode's place if the frames were spliced
  const Bytes cut_from = Frame('1', 150);
  // The next frame as the device may send it: whole, 3 + 7, a header byte at a time.
  const std::vector<std::vector<std::size_t>> splits{{10}, {3, 7}, {1, 1, 1, 7}};
  Load();
  for (int cut = 1; cut < principal.Settings().FrameLength; ++cut) {
    for (const auto& split : splits) {
      SCOPED_TRACE("cut after " + std::to_string(cut) + ", next in " +
                   std::to_string(split.size()) + " reports");
      usb.device.Chunk(Part(cut_from, 0, static_cast<std::size_t>(cut)));
      std::size_t at = 0;
      for (std::size_t n : split) {
        usb.device.Chunk(Part(next, at, n));
        at += n;
      }
      const std::uint64_t before = principal.FramesDecoded();
      Tick();
      // The cut frame is dropped and the next one is shown as it was sent.
      EXPECT_EQ(principal.FramesDecoded(), before + 1);
      EXPECT_EQ(principal.LastFrame(), next);
      EXPECT_FALSE(principal.ShutdownRequested());
      EXPECT_FALSE(principal.OnBattery());
      EXPECT_EQ(principal.FramePos(), 1);
    }
  }
  EXPECT_EQ(principal.ShutdownSequenceRuns(), 0u);
  EXPECT_TRUE(shutdown.requests.empty());
  EXPECT_EQ(log.contents.find("Cierre Forzado"), std::string::npos);
}

// Fault: with "FramePos >= FrameLength" a frame counted as complete one byte early and its
// tenth byte, the mode, was whatever the previous frame had left there.
TEST_F(UsbFrameTest, TheTenthByteIsTheNewFramesModeNotThePreviousOne) {
  Load();
  usb.device.Chunk(Frame('1', 150));  // power failure
  Tick();
  ASSERT_TRUE(principal.OnBattery());
  ASSERT_EQ(tray.balloons.size(), 1u);

  const Bytes back = Frame('0', 150);  // power is back, in 9 + 1 bytes
  usb.device.Chunk(Part(back, 0, 9));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 1u) << "decoded before its mode byte came";
  EXPECT_TRUE(principal.OnBattery());

  usb.device.Chunk(Part(back, 9, 1));
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 2u);
  EXPECT_EQ(principal.LastFrame()[9], '0');
  EXPECT_FALSE(principal.OnBattery());
  EXPECT_EQ(tray.balloons.back(), "1|Corvamon| Retorno de Energía ");
}

// ---- what one tick may do

TEST_F(UsbFrameTest, ATickWaitsAtMostSixtyMillisecondsAndTakesAtMostEightReports) {
  Load();
  for (int i = 0; i < 20; ++i) usb.device.Chunk(Frame('0'));
  const auto first = TickWaits();
  EXPECT_EQ(first, (std::vector<int>{50, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(principal.FramesDecoded(), 8u);  // every frame that came was shown
  EXPECT_EQ(TickWaits().size(), 8u);
  EXPECT_EQ(TickWaits().size(), 5u);  // four left and the read that found nothing
  EXPECT_EQ(principal.FramesDecoded(), 20u);

  // A frame a byte a report: the rest of a started frame is waited for a little, within the
  // tick's sixty milliseconds, and what the tick cannot take waits for the next one.
  const Bytes frame = Frame('0', 90);
  for (std::size_t i = 0; i < frame.size(); ++i) usb.device.Chunk(Part(frame, i, 1));
  const auto slow = TickWaits();
  EXPECT_EQ(slow, (std::vector<int>{50, 10, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(principal.FramesDecoded(), 20u);
  EXPECT_EQ(principal.FramePos(), 9);
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 21u);
  EXPECT_EQ(principal.LastFrame(), frame);
}

TEST_F(UsbFrameTest, ASilentTickAsksOnceAndWaitsFiftyMilliseconds) {
  Load();
  EXPECT_EQ(TickWaits(), std::vector<int>{50});
  const Bytes frame = Frame('0');
  usb.device.Chunk(Part(frame, 0, 7));
  EXPECT_EQ(TickWaits(), (std::vector<int>{50, 10}));  // the rest of the frame had a moment
}

TEST_F(UsbFrameTest, AssembleUsbFrameOnItsOwnReadsWithinOneTicksAllowance) {
  Load();
  for (int i = 0; i < 3; ++i) usb.device.Chunk(Frame('0'));
  EXPECT_TRUE(principal.AssembleUsbFrame());
  EXPECT_EQ(usb.waits, std::vector<int>{50});
  EXPECT_TRUE(principal.AssembleUsbFrame());
  EXPECT_EQ(usb.waits, (std::vector<int>{50, 50}));
  EXPECT_EQ(principal.FramesDecoded(), 0u);  // assembling is not decoding
}

TEST_F(UsbFrameTest, ATickOrSearchLeftByAnErrorDoesNotStopTheOnesAfterIt) {
  Load();
  // Whatever goes wrong in a tick is shown at the edge of the window's event; the next tick
  // must still read.
  usb.on_read = [] { throw std::runtime_error("out of memory"); };
  EXPECT_THROW(Tick(), std::runtime_error);
  usb.device.Chunk(Frame('0'));
  const std::size_t reads = usb.waits.size();
  Tick();
  EXPECT_GT(usb.waits.size(), reads);
  EXPECT_EQ(principal.FramesDecoded(), 1u);

  usb.Unplug();
  Tick();
  usb.Plug();
  usb.on_search = [] { throw std::runtime_error("out of memory"); };
  EXPECT_THROW(principal.OnTimer(Timer::TimerBuscaUSB), std::runtime_error);
  principal.OnTimer(Timer::TimerBuscaUSB);
  EXPECT_FALSE(principal.UsbDisconnected());
}

TEST_F(UsbFrameTest, ATickOrSearchStartedFromInsideAnotherDoesNothing) {
  Load();
  const Bytes frame = Frame('0');
  usb.device.Chunk(Part(frame, 0, 7));
  usb.device.Chunk(Part(frame, 7, 3));
  // Messages run while a tick is under way (DoEvents) and another tick or a search comes in.
  std::vector<std::size_t> nested_reads;
  std::size_t searches = 0;
  usb.on_read = [&] {
    const std::size_t before = usb.waits.size();
    searches = usb.searches.size();
    principal.OnTimer(Timer::TimerUSB);
    nested_reads.push_back(usb.waits.size() - before);
  };
  Tick();
  EXPECT_EQ(nested_reads, std::vector<std::size_t>{0});
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), frame);

  usb.Unplug();
  Tick();
  usb.Plug();
  usb.on_search = [&] { principal.OnTimer(Timer::TimerBuscaUSB); };
  principal.OnTimer(Timer::TimerBuscaUSB);
  EXPECT_EQ(usb.searches.size(), searches + 1);  // the nested search did not search
  EXPECT_EQ(tray.balloons.back(), kBackBalloon);
  EXPECT_EQ(std::count(tray.balloons.begin(), tray.balloons.end(), kBackBalloon), 1);
}

// ---- a lost device and its return

TEST_F(UsbFrameTest, ASilentDeviceIsLostAfterTenSecondsOfTicks) {
  Load();
  usb.device.Chunk(Frame('0'));
  Tick();  // the last frame it sent
  EXPECT_EQ(TicksUntilLost(30), 10);
  EXPECT_TRUE(principal.UsbDisconnected());
  EXPECT_FALSE(Timer(Timer::TimerUSB));
  EXPECT_TRUE(Timer(Timer::TimerBuscaUSB));
  EXPECT_TRUE(Timer(Timer::Timerdesconexion));
  EXPECT_EQ(tray.balloons.back(), kLostBalloon);
  EXPECT_EQ(usb.device.closes, 1);
}

TEST_F(UsbFrameTest, ADeviceSendingEverySecondIsNeverLost) {
  Load();
  for (int i = 0; i < 60; ++i) {
    usb.device.Chunk(Frame('0'));
    Tick();
  }
  EXPECT_FALSE(principal.UsbDisconnected());
  EXPECT_EQ(principal.FramesDecoded(), 60u);
}

TEST_F(UsbFrameTest, UnplugAndReplug) {
  ini.Set("Apaga", "ApagaDesconexion", "1");
  Load();
  principal.Activate();
  usb.device.Chunk(Frame('0'));
  Tick();
  const int fronts = view.fronts;

  usb.Unplug();
  Tick();
  EXPECT_TRUE(principal.UsbDisconnected());
  EXPECT_TRUE(principal.UsbOpen());  // the link stays the USB one; only its device is gone
  EXPECT_FALSE(Timer(Timer::TimerUSB));
  EXPECT_TRUE(Timer(Timer::TimerBuscaUSB));
  EXPECT_TRUE(Timer(Timer::Timerdesconexion));
  ASSERT_FALSE(tray.modified.empty());
  EXPECT_EQ(tray.modified.back(), (std::pair<int, std::string>{kTrayNoUsb, "Corvamon"}));
  EXPECT_EQ(tray.balloons, std::vector<std::string>{kLostBalloon});
  EXPECT_EQ(view.fronts, fronts + 1);
  EXPECT_FALSE(usb.device.open);

  // The search every 5 s finds nothing while the cable is out; meanwhile the disconnection
  // countdown has run part of the way and shows in lblmsg.
  principal.OnTimer(Timer::TimerBuscaUSB);
  EXPECT_TRUE(principal.UsbDisconnected());
  EXPECT_TRUE(Timer(Timer::TimerBuscaUSB));
  EXPECT_EQ(usb.searches.size(), 2u);
  for (int second = 0; second < 27; ++second) principal.OnTimer(Timer::Timerdesconexion);
  ASSERT_EQ(principal.DisconnectSeconds(), 3);
  ASSERT_FALSE(view.Hidden(Control::lblmsg));

  usb.Plug();
  const int do_events = view.do_events;
  principal.OnTimer(Timer::TimerBuscaUSB);
  EXPECT_FALSE(principal.UsbDisconnected());
  EXPECT_TRUE(principal.UsbOpen());
  EXPECT_TRUE(Timer(Timer::TimerUSB));
  EXPECT_FALSE(Timer(Timer::TimerBuscaUSB));
  EXPECT_FALSE(Timer(Timer::Timerdesconexion));
  EXPECT_EQ(principal.DisconnectSeconds(), 30);
  EXPECT_TRUE(view.Hidden(Control::lblmsg));
  EXPECT_GT(view.do_events, do_events);
  EXPECT_EQ(tray.modified.back(), (std::pair<int, std::string>{kTrayMainIcon, "Corvamon"}));
  EXPECT_EQ(tray.balloons, (std::vector<std::string>{kLostBalloon, kBackBalloon}));

  // Frames flow again, and commands reach the device again.
  usb.device.Chunk(Frame('0', 120));
  Tick();
  EXPECT_EQ(principal.LastFrame(), Frame('0', 120));
  principal.IBMute_Click();
  EXPECT_EQ(usb.device.written.back(), (Bytes{0, 1, 'a', 0, 0, 0, 0, 0, 0}));
}

// Fault: the handle of the lost device stayed open while the search opened a new one.
TEST_F(UsbFrameTest, TheLostDevicesHandleIsClosedBeforeTheNextSearch) {
  Load();
  usb.Unplug();
  Tick();
  usb.Plug();
  principal.OnTimer(Timer::TimerBuscaUSB);
  const auto lost = std::find(usb.events.begin(), usb.events.end(), "lost");
  ASSERT_NE(lost, usb.events.end());
  EXPECT_EQ(std::vector<std::string>(lost, usb.events.end()),
            (std::vector<std::string>{"lost", "close", "search"}));
  EXPECT_EQ(usb.device.log, (std::vector<std::string>{"open Corvamon", "close", "open Corvamon"}));
  EXPECT_EQ(usb.device.opens, 2);
  EXPECT_EQ(usb.device.closes, 1);
  EXPECT_TRUE(usb.device.open);
}

TEST_F(UsbFrameTest, WhileTheDeviceIsLostNothingIsSent) {
  Load();
  usb.Unplug();
  Tick();
  usb.Plug();  // back in the socket, not yet found again
  principal.IBMute_Click();
  principal.ImgMainBat_DblClick();
  EXPECT_EQ(usb.device.write_calls, 0);
  EXPECT_EQ(usb.reports.size(), 3u);
}

TEST_F(UsbFrameTest, APartFrameOfTheLostDeviceIsNotJoinedToTheNextOnesFrames) {
  Load();
  usb.device.Chunk(Part(Frame('1'), 0, 7));
  usb.device.Unplug();  // the replay list pulls the cable at the next read
  Tick();
  ASSERT_TRUE(principal.UsbDisconnected());
  usb.Plug();
  principal.OnTimer(Timer::TimerBuscaUSB);
  usb.device.Chunk(Frame('0'));
  Tick();
  EXPECT_EQ(principal.LastFrame(), Frame('0'));
  EXPECT_FALSE(principal.OnBattery());
}

TEST_F(UsbFrameTest, OnBatteryALostDeviceChangesNeitherTheIconNorTheBalloons) {
  Load();
  usb.device.Chunk(Frame('1'));
  Tick();
  ASSERT_TRUE(principal.OnBattery());
  const auto balloons = tray.balloons;
  const auto modified = tray.modified;
  const int fronts = view.fronts;
  usb.Unplug();
  Tick();
  EXPECT_TRUE(principal.UsbDisconnected());
  EXPECT_TRUE(Timer(Timer::TimerBuscaUSB));
  EXPECT_TRUE(Timer(Timer::Timerdesconexion));
  EXPECT_EQ(tray.balloons, balloons);
  EXPECT_EQ(tray.modified, modified);
  EXPECT_EQ(view.fronts, fronts + 1);
}

TEST_F(UsbFrameTest, WithoutNotifAvisoThereAreNoBalloonsButTheIconChanges) {
  ini.Set("Prefs", "NotifAviso", "0");
  Load();
  usb.Unplug();
  Tick();
  EXPECT_EQ(tray.modified.back().first, kTrayNoUsb);
  usb.Plug();
  principal.OnTimer(Timer::TimerBuscaUSB);
  EXPECT_EQ(tray.modified.back().first, kTrayMainIcon);
  EXPECT_TRUE(tray.balloons.empty());
}

TEST_F(UsbFrameTest, ACountdownAlreadyRunningKeepsRunningWhenTheDeviceIsLost) {
  ini.Set("Apaga", "ApagaDesconexion", "1");
  Load();
  view.EnableTimer(Timer::Timerdesconexion, true);
  for (int second = 0; second < 18; ++second) principal.OnTimer(Timer::Timerdesconexion);
  ASSERT_EQ(principal.DisconnectSeconds(), 12);
  usb.Unplug();
  Tick();
  EXPECT_TRUE(Timer(Timer::Timerdesconexion));
  EXPECT_EQ(principal.DisconnectSeconds(), 12);  // refilled only when the device is back
}

// ---- a session played from a replay text

TEST_F(UsbFrameTest, ASessionPlayedFromAReplayText) {
  Load();
  usb.device.Play(R"(
# line power, whole frames
report 00 0A 26 26 26 38 78 C8 41 5C 30 30
# noise between frames, then a failure split 7 + 3 in the same tick
report 00 02 30 30
report 00 07 26 26 26 38 78 96 41
report 00 03 5C 30 31
silent
# on battery; the count byte of this one is wrong
report 00 0C 26 26 26 38 78 96 41 5C 30 31
report 00 0A FF FF FF 38 78 64 41 5C 30 31
silent
# power back
report 00 0A 26 26 26 38 78 96 41 5C 30 30
unplug
)");
  Tick();  // the first frame; the noise; the failure; nothing more this tick
  EXPECT_EQ(principal.FramesDecoded(), 2u);
  EXPECT_TRUE(principal.OnBattery());
  Tick();  // the wrong count is skipped, the 0xFF frame is read
  EXPECT_EQ(principal.FramesDecoded(), 3u);
  EXPECT_EQ(principal.LastFrame()[5], 0x64);
  Tick();  // power back, then the cable is pulled
  EXPECT_EQ(principal.FramesDecoded(), 4u);
  EXPECT_FALSE(principal.OnBattery());
  EXPECT_TRUE(principal.UsbDisconnected());
  EXPECT_EQ(tray.balloons.back(), kLostBalloon);
}

// What the window showed for each frame of a USB run: the frame and its readings as shown.
std::vector<std::string> ShownUsbFrames(const std::string& data_string,
                                        const std::vector<std::vector<Bytes>>& ticks) {
  fakes::MonitorRig rig;
  rig.ini.Set("Inicio", "DataString", data_string);
  rig.usb.present = true;
  Principal principal{rig.Ports()};
  principal.Load("C:\\Corvamon");
  std::vector<std::string> shown;
  std::uint64_t decoded = 0;
  for (const std::vector<Bytes>& chunks : ticks) {
    for (const Bytes& chunk : chunks) rig.usb.device.Chunk(chunk);
    rig.usb.clock.Advance(1000);
    principal.OnTimer(Timer::TimerUSB);
    if (principal.FramesDecoded() == decoded) continue;
    decoded = principal.FramesDecoded();
    std::string line = fakes::ShownFrame(principal, rig.view);
    line += '|';
    line += rig.view.Text(Control::lblmsg);
    shown.push_back(line);
  }
  return shown;
}

// Fault: on a first USB install Corvaset cannot learn DataString (it writes 0), and the monitor
// then read nothing for ever. It learns the kind from the first header on the USB link too, and
// reads every frame as it would with the right DataString.
TEST_F(UsbFrameTest, WithoutAUsableDataStringTheFirstHeaderGivesTheFrameKind) {
  const Bytes star_line = {'*', '*', '*', 0, 215, 0, 65, '0', '0'};
  const Bytes star_battery = {'*', '*', '*', 0, 150, 0, 65, '0', '1'};
  struct Kind {
    const char* data_string;
    std::vector<std::vector<Bytes>> ticks;
  };
  const Kind kinds[] = {
      {"&&&10",
       {{Bytes{'2', '2', '2'}},
        {Frame('0')},
        {Part(Frame('1', 150), 0, 7), Part(Frame('1', 150), 7, 3)},
        {Frame('0')}}},
      {"&&&10", {{Frame('0', 200, 0xFF)}, {Frame('1', 150, 0xFF)}, {Frame('0')}}},
      {"***9",
       {{Bytes{'2'}},
        {star_line},
        {Part(star_battery, 0, 4), Part(star_battery, 4, 5)},
        {star_line}}},
  };
  for (const Kind& kind : kinds) {
    const std::vector<std::string> right = ShownUsbFrames(kind.data_string, kind.ticks);
    ASSERT_GE(right.size(), 3u) << kind.data_string;
    for (const char* unusable : {"0", ""}) {
      EXPECT_EQ(ShownUsbFrames(unusable, kind.ticks), right)
          << kind.data_string << " read with DataString=\"" << unusable << "\"";
    }
  }
}

TEST_F(UsbFrameTest, UntilAHeaderComesReportsAreTakenAndTheHintStays) {
  ini.Set("Inicio", "DataString", "");
  Load();
  ASSERT_TRUE(principal.UsbOpen());
  EXPECT_EQ(view.Text(Control::lblmsg), "Revise DataString en Corvamon.ini");
  usb.device.Chunk(Bytes{'2', '&', '&', '1'});
  usb.device.Chunk(Bytes{'*', '*', '2'});
  Tick();
  EXPECT_EQ(principal.FramesDecoded(), 0u);
  EXPECT_TRUE(usb.device.replay.empty());  // drained
  EXPECT_EQ(view.Text(Control::lblmsg), "Revise DataString en Corvamon.ini");
  EXPECT_EQ(TicksUntilLost(30), 10);  // and a silent device is still noticed
}

// ---- the assembler on its own, with a FrameBuffer in the test's hands

class UsbFrameAssemblerTest : public ::testing::Test {
 protected:
  UsbFrameAssemblerTest() {
    usb.present = true;
    usb.FindUsbDevice("Corvamon");
  }
  // One tick a second after the last: the frames it put together, in order.
  std::vector<Bytes> Tick() {
    usb.clock.Advance(1000);
    assembler.BeginTick();
    std::vector<Bytes> frames;
    while (assembler.Assemble(buffer, 10))
      frames.emplace_back(buffer.begin() + 1, buffer.begin() + 11);
    return frames;
  }

  fakes::FakeUsb usb;
  UsbFrameAssembler assembler{usb};
  Bytes buffer = Bytes(21, 0);
};

TEST_F(UsbFrameAssemblerTest, AReportThatWouldRunPastTheFrameEndsTheFrameBegun) {
  buffer = Bytes(11, 0);  // room for exactly one frame after index 0
  const Bytes frame = Frame('0');
  usb.device.Chunk(Part(frame, 0, 7));
  usb.device.Chunk({1, 2, 3, 4, 5, 6, 7});  // 7 + 7: not the rest of this frame
  usb.device.Chunk(Part(frame, 7, 3));      // nor is this, any more
  EXPECT_TRUE(Tick().empty());
  EXPECT_EQ(buffer.size(), 11u);
  EXPECT_EQ(assembler.FramePos(), 1);
  usb.device.Chunk(frame);
  EXPECT_EQ(Tick(), std::vector<Bytes>{frame});
}

// Fault: with "FramePos >= FrameLength" a frame counted as complete one byte early, and its mode
// was whatever an earlier frame had left in FrameBuffer: a '2' there shut the computer down.
TEST_F(UsbFrameAssemblerTest, AStaleShutdownByteIsNeverHandedOn) {
  // A frame that broke off right before its mode byte, then the device's next whole frame.
  usb.device.Chunk(Part(Frame('0'), 0, 9));
  usb.device.Chunk(Frame('0'));
  buffer[10] = '2';  // what an earlier frame could have left there
  std::vector<Bytes> frames = Tick();
  const std::vector<Bytes> more = Tick();
  frames.insert(frames.end(), more.begin(), more.end());
  EXPECT_EQ(frames, std::vector<Bytes>{Frame('0')});
}

}  // namespace
}  // namespace corva
