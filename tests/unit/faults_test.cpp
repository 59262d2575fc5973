// Faults a monitor that runs for weeks meets: a log that can never be written, the UPS's link
// gone under the turn-off command, the computer's clock set back during a countdown.

#include <gtest/gtest.h>

#include <algorithm>

#include "principal.h"
#include "../fakes/monitor_rig.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t battery, std::uint8_t mode) {
  return {'&', '&', '&', 56, 120, battery, 65, 92, '0', mode};
}

class FaultsTest : public ::testing::Test, protected fakes::MonitorRig {
 protected:
  FaultsTest() { ini.Set("Inicio", "DataString", "&&&10"); }
  void Load() { principal.Load("C:\\Corvamon"); }
  void Receive(const Bytes& frame) { MSComm1.Arrive(frame); }
  void Tick(Timer t, int times = 1) {
    for (int i = 0; i < times; ++i) {
      if (view.TimerEnabled(t)) principal.OnTimer(t);
    }
  }
  long Said(const std::string& text) const {
    return std::count(view.messages_shown.begin(), view.messages_shown.end(), text);
  }

  Principal principal{Ports()};
};

TEST(LogFailure, OnlyASharingOrLockViolationIsALockThatWillGo) {
  EXPECT_EQ(LogFailureFromError(0), LogFailure::None);
  EXPECT_EQ(LogFailureFromError(32), LogFailure::Locked);   // sharing violation
  EXPECT_EQ(LogFailureFromError(33), LogFailure::Locked);   // lock violation
  EXPECT_EQ(LogFailureFromError(5), LogFailure::Refused);   // access denied
  EXPECT_EQ(LogFailureFromError(19), LogFailure::Refused);  // write-protected
  EXPECT_EQ(LogFailureFromError(3), LogFailure::Refused);   // the folder is gone
}

// Fault: with a folder that may not be written the monitor said nothing, and every shutdown and
// close waited 5 s for a "lock" that was never going to go.
TEST_F(FaultsTest, ALogThatCannotBeWrittenIsSaidOnceAndHoldsNothingUp) {
  ini.Set("Prefs", "Bitacora", "1");
  ini.Set("Apaga", "ApagaPorcentaje", "1");
  ini.Set("Apaga", "ApagaQuePorcentaje", "30");
  Load();
  log.refused = true;
  Receive(Frame(200, '0'));  // the start entry
  EXPECT_EQ(view.Text(Control::lblmsg), "No pude escribir en Bitacora.txt");
  EXPECT_FALSE(view.Hidden(Control::lblmsg));
  Receive(Frame(190, '1'));  // a failure
  Tick(Timer::TimerBitacora, 3);
  Receive(Frame(155, '1'));  // 30 %: shut down
  EXPECT_EQ(Said("No pude escribir en Bitacora.txt"), 1);
  EXPECT_EQ(shutdown.requests, std::vector<int>{5});
  EXPECT_TRUE(view.wait_timeouts.empty());  // nobody waited for the file
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerBitacora));

  // Made writable again: what waited goes out, in order, once.
  log.refused = false;
  Tick(Timer::TimerBitacora);
  EXPECT_EQ(principal.Log().Pending(), 0u);
  const auto start = log.contents.find("Inicio de Monitoreo KRD ");
  const auto failure = log.contents.find("Corte de energía ");
  const auto decision = log.contents.find("Apagado por bateria a nivel personalizado ");
  EXPECT_LT(start, failure);
  EXPECT_LT(failure, decision);
  EXPECT_NE(decision, std::string::npos);
}

TEST_F(FaultsTest, ALockedLogIsNotSaidToBeUnwritable) {
  ini.Set("Prefs", "Bitacora", "1");
  Load();
  log.locked = true;
  Receive(Frame(200, '0'));
  Receive(Frame(190, '1'));
  Tick(Timer::TimerBitacora, 2);
  EXPECT_EQ(Said("No pude escribir en Bitacora.txt"), 0);
}

// Fault: a cable pulled (or a USB device gone) under the turn-off command left no trace: the
// log said nothing, and nobody could know the UPS would run its battery flat.
TEST_F(FaultsTest, ATurnOffCommandThatCannotLeaveIsLoggedAndTheShutdownGoesOn) {
  ini.Set("Apaga", "ApagaTNX", "1");
  ini.Set("Apaga", "ApagaTNXMinutos", "5");
  Load();
  MSComm2.fail_output = true;  // the pty behind the port is gone
  Receive(Frame(150, '2'));
  EXPECT_EQ(shutdown.requests, std::vector<int>{5});
  EXPECT_EQ(log.contents.find("Cierre Forzado "), std::string::npos);  // Bitacora=0
  const auto not_told = log.contents.find("Señal a TNX no enviada ");
  ASSERT_NE(not_told, std::string::npos);  // written whatever Bitacora says
  EXPECT_EQ(log.contents.find("Señal a TNX no enviada ", not_told + 1), std::string::npos);
  EXPECT_NE(view.Text(Control::lblmsg).rfind("TNX se apaga en", 0), 0u);
}

TEST_F(FaultsTest, ADeviceGoneBetweenTheTurnOffBytesGetsNoMinutesAndIsLogged) {
  ini.Set("Prefs", "Bitacora", "1");
  ini.Set("Apaga", "ApagaTNX", "1");
  ini.Set("Apaga", "ApagaTNXMinutos", "5");
  Load();
  // The port still takes bytes (as Windows' does, queued), but says its device is gone.
  view.on_pause = [this] { MSComm2.Raise(comm::kEventLost); };
  Receive(Frame(150, '2'));
  EXPECT_EQ(MSComm2.sent, Bytes{0x25});
  EXPECT_EQ(shutdown.requests, std::vector<int>{5});
  const auto decision = log.contents.find("Cierre Forzado ");
  const auto not_told = log.contents.find("Señal a TNX no enviada ");
  ASSERT_NE(not_told, std::string::npos);
  EXPECT_LT(decision, not_told);
}

TEST_F(FaultsTest, AUsbDeviceGoneUnderTheTurnOffCommandIsLogged) {
  ini.Set("Prefs", "Bitacora", "1");
  ini.Set("Apaga", "ApagaTNX", "1");
  usb.present = true;
  Load();
  usb.device.Chunk(Frame(150, '2'));
  usb.clock.Advance(1000);
  usb.device.fail_writes = true;
  principal.OnTimer(Timer::TimerUSB);
  ASSERT_EQ(shutdown.requests, std::vector<int>{5});
  const auto decision = log.contents.find("Cierre Forzado ");
  const auto not_told = log.contents.find("Señal a TNX no enviada ");
  ASSERT_NE(not_told, std::string::npos);
  EXPECT_LT(decision, not_told);
}

// The countdown counts the window's one-second ticks, never the clock on the wall: a clock set
// back an hour (by hand, or by a time server) neither stretches it nor cuts it short. Only the
// log's stamps follow the clock.
TEST_F(FaultsTest, AClockSetBackDuringTheCountdownLeavesItCountingRealSeconds) {
  ini.Set("Prefs", "Bitacora", "1");
  ini.Set("Apaga", "ApagaMinutos", "1");
  ini.Set("Apaga", "ApagaCuantosMinutos", "60");
  Load();
  platform.now = LocalTime{2026, 3, 6, 14, 5, 9};
  Receive(Frame(190, '1'));
  Tick(Timer::TimerApagar, 20);
  EXPECT_EQ(principal.CountdownSeconds(), 40);
  platform.now = LocalTime{2026, 3, 6, 13, 5, 29};  // an hour back
  Tick(Timer::TimerApagar, 39);
  EXPECT_EQ(view.Text(Control::lblmsg), "Apagar en 1 segundos");
  Receive(Frame(190, '1'));
  EXPECT_FALSE(principal.ShutdownRequested());
  Tick(Timer::TimerApagar);
  EXPECT_EQ(view.Text(Control::lblmsg), "Apagando la PC");
  platform.now = LocalTime{2026, 3, 6, 13, 6, 9};
  Receive(Frame(190, '1'));
  EXPECT_TRUE(principal.ShutdownRequested());
  EXPECT_NE(log.contents.find("Apagado por tiempo a nivel personalizado 06/03/2026  13:06:09"),
            std::string::npos);
}

}  // namespace
}  // namespace corva
