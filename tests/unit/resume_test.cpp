// The monitor across a sleep of the computer: the link opened again after the wake (the same
// serial port, a new search for the USB device), nothing reported lost because of the sleep
// itself, and the battery countdown that never counts the time asleep.

#include <gtest/gtest.h>

#include <algorithm>

#include "principal.h"
#include "../fakes/monitor_rig.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kLostBalloon[] = "1|Corvamon| Equipo BRAX Desconectado ";

// A 10-byte frame: voltage reading 14400, battery byte, period 16667 (60 Hz), line, mode.
Bytes Frame(std::uint8_t mode, std::uint8_t battery = 200) {
  return {'&', '&', '&', 56, 120, battery, 65, 92, '0', mode};
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class ResumeTest : public ::testing::Test, protected fakes::MonitorRig {
 protected:
  ResumeTest() {
    ini.Set("Inicio", "DataString", "&&&10");
    ini.Set("Inicio", "CommPort", "3");
    ini.Set("Prefs", "Bitacora", "1");
    ini.Set("Prefs", "NotifAviso", "1");
    ini.Set("Apaga", "ApagaDesconexion", "1");
    ini.Set("Apaga", "ApagaDesconexionSegundos", "30");
  }
  void Load() { principal.Load("C:\\Corvamon"); }
  void Sleep() { principal.Suspending(); }
  // Windows' two wake notices, as a wake with the user at the computer brings them.
  void Wake() {
    principal.Resumed();
    principal.Resumed();
  }
  void UsbTick(const Bytes& frame) {
    std::vector<std::uint8_t> report{0, static_cast<std::uint8_t>(frame.size())};
    report.insert(report.end(), frame.begin(), frame.end());
    usb.device.Report(report);
    usb.clock.Advance(1000);
    principal.OnTimer(Timer::TimerUSB);
  }

  Principal principal{Ports()};
};

TEST_F(ResumeTest, ASerialPortThatDiedWithTheSleepIsOpenedAgainWithoutAWord) {
  Load();
  MSComm1.Arrive(Frame('0'));
  ASSERT_EQ(principal.FramesDecoded(), 1u);

  Sleep();
  MSComm1.Raise(comm::kEventLost);  // the handle died as the computer went to sleep
  EXPECT_FALSE(MSComm1.open);
  Wake();
  EXPECT_EQ(MSComm1.opened, (std::vector<int>{3, 3}));  // the same port, opened once at the wake
  EXPECT_TRUE(view.messages_shown.empty());  // never "Error en la conexión", not even a moment
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerBuscaSerial));
  MSComm1.Arrive(Frame('0'));
  EXPECT_EQ(principal.FramesDecoded(), 2u);

  // A port that still looks open after the wake is opened again too: its handle may be dead.
  Sleep();
  Wake();
  EXPECT_EQ(MSComm1.opened, (std::vector<int>{3, 3, 3}));

  // A wake whose notice never comes: the port is opened again at the next search, quietly.
  Sleep();
  MSComm1.Raise(comm::kEventLost);
  ASSERT_TRUE(view.TimerEnabled(Timer::TimerBuscaSerial));
  principal.OnTimer(Timer::TimerBuscaSerial);
  EXPECT_TRUE(MSComm1.open);
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerBuscaSerial));
  EXPECT_TRUE(view.messages_shown.empty());
  // The start is the only entry: each has one date and time, "dd/mm/yyyy  hh:mm:ss".
  EXPECT_EQ(Count(log.contents, "Inicio de Monitoreo"), 1);
  EXPECT_EQ(Count(log.contents, "2026  "), 1);
}

TEST_F(ResumeTest, ASerialPortNotBackAfterTheWakeIsLookedForQuietlyThenSaid) {
  Load();
  MSComm1.Arrive(Frame('0'));
  Sleep();
  MSComm1.can_open = false;
  Wake();
  EXPECT_TRUE(principal.ResumeSearchUnderWay());
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerBuscaSerial));
  EXPECT_EQ(view.Text(Control::lblmsg), "");

  // Back within the searches: nothing said at all.
  principal.OnTimer(Timer::TimerBuscaSerial);
  MSComm1.can_open = true;
  principal.OnTimer(Timer::TimerBuscaSerial);
  EXPECT_TRUE(MSComm1.open);
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerBuscaSerial));
  EXPECT_EQ(view.Text(Control::lblmsg), "");
  EXPECT_EQ(MSComm1.port, 3);

  // Not back after all of them: the connection error, then the designed search goes on.
  Sleep();
  MSComm1.can_open = false;
  Wake();
  for (int i = 0; i < kResumeLinkSearches - 1; ++i) principal.OnTimer(Timer::TimerBuscaSerial);
  EXPECT_EQ(view.Text(Control::lblmsg), "");
  principal.OnTimer(Timer::TimerBuscaSerial);
  EXPECT_EQ(view.Text(Control::lblmsg), "Error en la conexión");
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerBuscaSerial));
  EXPECT_FALSE(principal.ResumeSearchUnderWay());
  MSComm1.can_open = true;
  principal.OnTimer(Timer::TimerBuscaSerial);
  EXPECT_EQ(view.Text(Control::lblmsg), "");
  EXPECT_TRUE(MSComm1.open);
}

TEST_F(ResumeTest, AUsbDeviceGoneAfterTheWakeIsSearchedForAgainAndFoundWithoutALoss) {
  usb.present = true;
  Load();
  UsbTick(Frame('0'));
  ASSERT_EQ(principal.FramesDecoded(), 1u);
  const int opens = usb.device.opens;

  Sleep();
  usb.Unplug();  // the device went away with the sleep; its old handle is dead
  principal.OnTimer(Timer::TimerUSB);  // a read between the wake and its notice fails
  Wake();
  EXPECT_FALSE(principal.UsbDisconnected());
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerBuscaUSB));
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerUSB));
  EXPECT_FALSE(view.TimerEnabled(Timer::Timerdesconexion));
  EXPECT_TRUE(tray.balloons.empty());

  principal.OnTimer(Timer::TimerBuscaUSB);
  usb.Plug();  // back, as a new device the search finds afresh
  principal.OnTimer(Timer::TimerBuscaUSB);
  EXPECT_EQ(usb.device.opens, opens + 1);
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerUSB));
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerBuscaUSB));
  UsbTick(Frame('0'));
  EXPECT_EQ(principal.FramesDecoded(), 2u);
  EXPECT_TRUE(tray.balloons.empty());
  EXPECT_FALSE(principal.UsbDisconnected());

  // Found at once after a wake: the old handle is let go and a new one opened.
  Sleep();
  Wake();
  EXPECT_EQ(usb.device.opens, opens + 2);
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerUSB));

  // Never back: after the wake's searches it is lost as any other.
  Sleep();
  usb.Unplug();
  Wake();
  for (int i = 0; i < kResumeLinkSearches; ++i) principal.OnTimer(Timer::TimerBuscaUSB);
  EXPECT_TRUE(principal.UsbDisconnected());
  EXPECT_EQ(tray.balloons, std::vector<std::string>{kLostBalloon});
  EXPECT_TRUE(view.TimerEnabled(Timer::Timerdesconexion));
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerBuscaUSB));
}

TEST_F(ResumeTest, TheBatteryCountdownWaitsForAFrameAfterTheWake) {
  ini.Set("Apaga", "ApagaMinutos", "1");
  ini.Set("Apaga", "ApagaCuantosMinutos", "60");
  Load();
  MSComm1.Arrive(Frame('0'));
  MSComm1.Arrive(Frame('1'));
  for (int i = 0; i < 10; ++i) principal.OnTimer(Timer::TimerApagar);
  ASSERT_EQ(principal.CountdownSeconds(), 50);

  Sleep();
  Wake();
  // Ticks before any frame: the state from before the sleep is not trusted.
  for (int i = 0; i < 5; ++i) principal.OnTimer(Timer::TimerApagar);
  EXPECT_EQ(principal.CountdownSeconds(), 50);
  // Still on battery after the wake: the countdown goes on from where it was.
  MSComm1.Arrive(Frame('1'));
  principal.OnTimer(Timer::TimerApagar);
  EXPECT_EQ(principal.CountdownSeconds(), 49);

  // Power came back during the sleep: the countdown climbs back, and the failure was logged once.
  Sleep();
  Wake();
  principal.OnTimer(Timer::TimerApagar);
  MSComm1.Arrive(Frame('0'));
  principal.OnTimer(Timer::TimerApagar);
  EXPECT_EQ(principal.CountdownSeconds(), 50);
  EXPECT_EQ(Count(log.contents, "Corte de energía"), 1);
  EXPECT_FALSE(principal.ShutdownRequested());
}

}  // namespace
}  // namespace corva
