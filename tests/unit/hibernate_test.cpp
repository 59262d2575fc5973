// [Apaga] Hibernar=1: the decided shutdown runs its designed sequence and then hibernates, or
// shuts down at once when hibernation is not possible; after the wake the monitor starts over
// as a monitor, and only new frames decide again.

#include <gtest/gtest.h>

#include "principal.h"
#include "../fakes/monitor_rig.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Calls = std::vector<std::string>;

// 10-byte frames: line power at 80 %, the first frame on battery (66.67 %), and one at the
// 30 % threshold.
const Bytes kLinePower = {'&', '&', '&', 56, 120, 200, 65, 92, '0', '0'};
const Bytes kFailure = {'&', '&', '&', 0, 0, 190, 65, 92, '1', '1'};
const Bytes kAtThreshold = {'&', '&', '&', 0, 0, 155, 65, 92, '1', '1'};

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class HibernateTest : public ::testing::Test, protected fakes::MonitorRig {
 protected:
  HibernateTest() {
    ini.Set("Inicio", "DataString", "&&&10");
    ini.Set("Prefs", "Bitacora", "1");
    ini.Set("Prefs", "GuardaOffice", "1");
    ini.Set("Prefs", "PathOffice", "C:\\Docs");
    ini.Set("Apaga", "ApagaPorcentaje", "1");
    ini.Set("Apaga", "ApagaQuePorcentaje", "30");
    ini.Set("Apaga", "ApagaMinutos", "1");
    ini.Set("Apaga", "ApagaCuantosMinutos", "300");
    ini.Set("Apaga", "ApagaTNX", "1");
    ini.Set("Apaga", "ApagaTNXMinutos", "5");
    ini.Set("Apaga", "Hibernar", "1");
    MSComm2.SetCommPort(1);
  }
  void Load() { principal.Load("C:\\Corvamon"); }
  // Line power, a failure, then the frame at the threshold that decides.
  void RunToTheDecision() {
    MSComm1.Arrive(kLinePower);
    MSComm1.Arrive(kFailure);
    MSComm1.Arrive(kAtThreshold);
  }
  void Wake() {
    principal.Suspending();
    principal.Resumed();
    principal.Resumed();
  }

  Principal principal{Ports()};
};

TEST_F(HibernateTest, TheDesignedSequenceRunsThenTheComputerHibernatesOnce) {
  Load();
  EXPECT_EQ(view.Text(Control::lblmsg), "");  // available: nothing said at start
  RunToTheDecision();
  EXPECT_EQ(office.folders, std::vector<std::string>{"C:\\Docs\\"});
  EXPECT_EQ(MSComm2.sent, (Bytes{0x25, 5}));  // "Señal a TNX" with its minutes
  EXPECT_EQ(shutdown.calls, Calls{"hibernate"});
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerHibernar));
  const auto decided = log.contents.find("Apagado por bateria a nivel personalizado ");
  const auto hibernated = log.contents.find("Hibernacion de la PC ");
  ASSERT_NE(hibernated, std::string::npos);
  EXPECT_LT(decided, hibernated);

  // Frames that come before the computer is down ask for nothing more.
  MSComm1.Arrive(kAtThreshold);
  EXPECT_EQ(shutdown.calls, Calls{"hibernate"});
  EXPECT_EQ(MSComm2.sent.size(), 2u);
}

TEST_F(HibernateTest, AnythingButOneIsTheDesignedShutdown) {
  for (const char* value : {"0", "2", "si", ""}) {
    fakes::MonitorRig rig;
    rig.ini.values = ini.values;
    rig.ini.Set("Apaga", "Hibernar", value);
    rig.shutdown.hibernation_available = false;
    Principal other{rig.Ports()};
    other.Load("C:\\Corvamon");
    rig.MSComm1.Arrive(kLinePower);
    rig.MSComm1.Arrive(kFailure);
    rig.MSComm1.Arrive(kAtThreshold);
    EXPECT_EQ(rig.shutdown.calls, Calls{"shutdown 5"}) << value;
    EXPECT_EQ(rig.log.contents.find("Hibernacion"), std::string::npos) << value;
  }
}

TEST_F(HibernateTest, UnavailableIsSaidOnceAtStartAndTheShutdownComesAtOnce) {
  shutdown.hibernation_available = false;
  Load();
  EXPECT_EQ(view.Text(Control::lblmsg), "Hibernacion no disponible");
  EXPECT_EQ(Count(log.contents, "Hibernacion no disponible "), 1);
  MSComm1.Arrive(kLinePower);
  EXPECT_NE(log.contents.find("Inicio de Monitoreo KRD "), std::string::npos);

  MSComm1.Arrive(kFailure);
  MSComm1.Arrive(kAtThreshold);
  EXPECT_EQ(shutdown.calls, Calls{"shutdown 5"});
  EXPECT_EQ(MSComm2.sent, (Bytes{0x25, 5}));
  EXPECT_EQ(Count(log.contents, "Hibernacion no disponible "), 2);
  EXPECT_NE(log.contents.find("\r\n\tApagando la PC\r\n"), std::string::npos);
}

TEST_F(HibernateTest, ARefusedCallIsLoggedWithItsReasonAndTheShutdownComesAtOnce) {
  shutdown.hibernate_refused = true;
  shutdown.fail = true;  // and the shutdown refused too, this time
  Load();
  RunToTheDecision();
  EXPECT_EQ(shutdown.calls, (Calls{"hibernate", "shutdown 5"}));
  EXPECT_NE(log.contents.find("Hibernacion rechazada "), std::string::npos);
  // The system's message on one line of its own, the shutdown on the next.
  EXPECT_NE(
      log.contents.find("\r\n\tNo puedo hibernar la PC: Acceso denegado.\r\n\tApagando la PC\r\n"),
      std::string::npos);
  // A refused shutdown is asked again by the next frame, never the hibernation.
  MSComm1.Arrive(kAtThreshold);
  EXPECT_EQ(shutdown.calls, (Calls{"hibernate", "shutdown 5", "shutdown 5"}));
}

TEST_F(HibernateTest, TakenButNeverDoneOnBatteryEndsInTheShutdown) {
  Load();
  RunToTheDecision();
  MSComm1.Arrive(kAtThreshold);  // still up, still on battery
  for (int i = 1; i < kHibernationWaitSeconds; ++i) principal.OnTimer(Timer::TimerHibernar);
  EXPECT_EQ(shutdown.calls, Calls{"hibernate"});
  shutdown.fail = true;
  principal.OnTimer(Timer::TimerHibernar);
  EXPECT_EQ(shutdown.calls, (Calls{"hibernate", "shutdown 5"}));
  EXPECT_NE(log.contents.find("Hibernacion no realizada "), std::string::npos);
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerHibernar));
  // Refused, the shutdown is asked again by the next frame.
  MSComm1.Arrive(kAtThreshold);
  EXPECT_EQ(shutdown.calls, (Calls{"hibernate", "shutdown 5", "shutdown 5"}));
}

TEST_F(HibernateTest, WithoutAFrameSinceTheRequestTheWaitEndsAsAWake) {
  // Windows hibernated and woke, and its wake notice was lost: no frame has come since, and
  // the state from before the hibernation decides nothing.
  Load();
  RunToTheDecision();
  for (int i = 0; i < kHibernationWaitSeconds; ++i) principal.OnTimer(Timer::TimerHibernar);
  EXPECT_EQ(shutdown.calls, Calls{"hibernate"});
  EXPECT_FALSE(principal.ShutdownRequested());
  EXPECT_EQ(Count(log.contents, "Reanudacion tras hibernar "), 1);
  EXPECT_EQ(MSComm1.opened.size(), 3u);  // opened again as at a wake
}

TEST_F(HibernateTest, AfterTheWakeOnlyNewFramesDecideAgain) {
  Load();
  RunToTheDecision();
  ASSERT_TRUE(principal.ShutdownRequested());
  Wake();
  EXPECT_FALSE(principal.ShutdownRequested());
  EXPECT_EQ(principal.CountdownSeconds(), 300);
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerHibernar));
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerApagar));
  EXPECT_EQ(Count(log.contents, "Reanudacion tras hibernar "), 1);
  EXPECT_EQ(MSComm1.opened.size(), 3u);  // at start, after the turn-off command, at the wake

  // Nothing is decided from the state of before: not by ticks, not by frames on line power.
  for (int i = 0; i < 5; ++i) principal.OnTimer(Timer::TimerApagar);
  MSComm1.Arrive(kLinePower);
  EXPECT_EQ(shutdown.calls, Calls{"hibernate"});
  EXPECT_FALSE(principal.ShutdownRequested());

  // A new failure down to the threshold decides again: the whole sequence runs again.
  MSComm1.Arrive(kFailure);
  MSComm1.Arrive(kAtThreshold);
  EXPECT_EQ(shutdown.calls, (Calls{"hibernate", "hibernate"}));
  EXPECT_EQ(office.folders.size(), 2u);
  EXPECT_EQ(MSComm2.sent, (Bytes{0x25, 5, 0x25, 5}));
  EXPECT_EQ(Count(log.contents, "Apagado por bateria a nivel personalizado "), 2);

  // Still on battery at the wake with the rule still holding: the first frame decides again.
  Wake();
  MSComm1.Arrive(kAtThreshold);
  EXPECT_EQ(shutdown.calls, (Calls{"hibernate", "hibernate", "hibernate"}));
  EXPECT_EQ(Count(log.contents, "Corte de energía "), 2);
}

}  // namespace
}  // namespace corva
