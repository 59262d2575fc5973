// The shutdown rules, the countdowns, the shutdown sequence and the shutdown module.

#include <gtest/gtest.h>

#include "principal.h"
#include "reboot.h"
#include "shutdown_rules.h"
#include "../fakes/monitor_rig.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t battery, std::uint8_t mode, std::uint8_t line = '0') {
  return {'&', '&', '&', 56, 120, battery, 65, 92, line, mode};
}

class ShutdownTest : public ::testing::Test, protected fakes::MonitorRig {
 protected:
  ShutdownTest() { ini.Set("Inicio", "DataString", "&&&10"); }
  void Load() { principal.Load("C:\\Corvamon"); }
  void Receive(const Bytes& frame) { MSComm1.Arrive(frame); }
  void Tick(Timer t, int times = 1) {
    for (int i = 0; i < times; ++i) {
      if (view.TimerEnabled(t)) principal.OnTimer(t);
    }
  }
  int Entries(const std::string& event) const {
    int n = 0;
    for (auto at = log.contents.find(event); at != std::string::npos;
         at = log.contents.find(event, at + 1)) {
      ++n;
    }
    return n;
  }

  Principal principal{Ports()};
};

// The rules on their own, over a shared record the test sets as the other parts would.
class ShutdownRulesTest : public ::testing::Test, protected fakes::MonitorRig {
 protected:
  MonitorState state;
  Bitacora bitacora{state, log, view, platform};
  ShutdownRules rules{state, bitacora, view, office, shutdown, [] { return true; }};
};

TEST_F(ShutdownRulesTest, TheBatteryThresholdDecidesAtOrBelowItsValue) {
  state.Settings.ApagaPorcentaje = 1;
  state.Settings.ApagaQuePorcentaje = 30;
  state.OnBattery = true;
  state.BatteryPercent = 30.5;
  rules.ApplyBatteryRules();
  EXPECT_FALSE(state.ShutdownRequested);
  state.BatteryPercent = 30.0;
  rules.ApplyBatteryRules();
  EXPECT_TRUE(state.ShutdownRequested);
  EXPECT_EQ(log.contents,
            "Apagado por bateria a nivel personalizado 06/03/2026  14:05:09\r\n"
            "\tOperacion Bateria\r\n\tBateria 0.00 %\r\n");
}

TEST_F(ShutdownRulesTest, CountdownsStopAtTheBottomOfTheirRange) {
  state.Settings.ApagaMinutos = 1;
  state.Settings.ApagaCuantosMinutos = -32767;
  rules.ResetCountdowns();
  state.OnBattery = true;
  for (int i = 0; i < 3; ++i) rules.TimerApagar_Timer();
  EXPECT_EQ(rules.CountdownSeconds(), -32768);
  EXPECT_EQ(view.Text(Control::lblmsg), "Apagando la PC");
}

TEST_F(ShutdownTest, ABatteryFrameAtTheThresholdShutsDown) {
  ini.Set("Apaga", "ApagaPorcentaje", "1");
  ini.Set("Apaga", "ApagaQuePorcentaje", "30");
  Load();
  Receive(Frame(190, '1'));
  EXPECT_FALSE(principal.ShutdownRequested());
  Receive(Frame(155, '1'));  // (155 - 140) * 100 / 50 = 30 %
  EXPECT_TRUE(principal.ShutdownRequested());
  EXPECT_EQ(shutdown.requests, std::vector<int>{5});
  EXPECT_EQ(principal.LastLogEntry().rfind("Apagado por bateria a nivel personalizado ", 0), 0u);
}

// Fault: entries waiting for a locked log went out only with a later entry, and after the
// shutdown decision there is none: the decision's own entry was lost with the process.
TEST_F(ShutdownTest, ALockedLogIsWrittenBeforeTheShutdownRequestOnceTheLockGoes) {
  ini.Set("Prefs", "Bitacora", "1");
  ini.Set("Apaga", "ApagaPorcentaje", "1");
  ini.Set("Apaga", "ApagaQuePorcentaje", "30");
  Load();
  log.locked = true;
  Receive(Frame(190, '1'));
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerBitacora));  // tried again while anything waits
  int waits = 0;
  view.on_wait = [&] {
    if (++waits == 3) log.locked = false;  // the other program lets go while we wait
  };
  std::string at_request;
  shutdown.on_request = [&] { at_request = log.contents; };
  Receive(Frame(155, '1'));
  ASSERT_EQ(shutdown.requests, std::vector<int>{5});
  EXPECT_EQ(Entries("Corte de energía "), 1);
  EXPECT_NE(at_request.find("Apagado por bateria a nivel personalizado "), std::string::npos);
  EXPECT_EQ(at_request, log.contents);
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerBitacora));
}

TEST_F(ShutdownTest, ALogLockedForGoodDelaysTheShutdownOnlyBoundedly) {
  ini.Set("Apaga", "ApagaPorcentaje", "1");
  ini.Set("Apaga", "ApagaQuePorcentaje", "30");
  Load();
  log.locked = true;
  Receive(Frame(155, '1'));
  EXPECT_EQ(shutdown.requests, std::vector<int>{5});  // the wait gave up; the shutdown goes on
  EXPECT_EQ(principal.Log().Pending(), 1u);
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerBitacora));
}

TEST_F(ShutdownTest, WaitingEntriesGoOutOnTheTimerAndAtUnload) {
  ini.Set("Prefs", "Bitacora", "1");
  Load();
  log.locked = true;
  Receive(Frame(190, '1'));
  ASSERT_EQ(principal.Log().Pending(), 1u);  // the power failure
  Tick(Timer::TimerBitacora);
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerBitacora));
  log.locked = false;
  Tick(Timer::TimerBitacora);
  EXPECT_EQ(principal.Log().Pending(), 0u);
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerBitacora));
  EXPECT_EQ(Entries("Corte de energía "), 1);

  log.locked = true;
  Receive(Frame(200, '0'));  // power back: its entry waits
  view.on_wait = [&] { log.locked = false; };
  principal.Unload();
  EXPECT_EQ(Entries("Retorno de energía "), 1);
  EXPECT_EQ(principal.Log().Pending(), 0u);
}

TEST_F(ShutdownTest, TheFirstBatteryFrameStillUsesTheLinePowerDivisor) {
  ini.Set("Apaga", "ApagaPorcentaje", "1");
  ini.Set("Apaga", "ApagaQuePorcentaje", "30");
  Load();
  Receive(Frame(160, '0'));
  // 40 % on battery, but this frame is read as on line power: 26.67 % decides.
  Receive(Frame(160, '1'));
  EXPECT_TRUE(principal.ShutdownRequested());
  EXPECT_NE(log.contents.find("\tBateria 26.67 %\r\n"), std::string::npos);
}

TEST_F(ShutdownTest, TheBatteryTimeCountsDownAndClimbsBackWhenPowerReturns) {
  ini.Set("Apaga", "ApagaMinutos", "1");
  ini.Set("Apaga", "ApagaCuantosMinutos", "60");
  Load();
  Receive(Frame(190, '1'));
  ASSERT_TRUE(view.TimerEnabled(Timer::TimerApagar));
  Tick(Timer::TimerApagar);
  EXPECT_EQ(view.Text(Control::lblmsg), "Apagar en 59 segundos");
  Tick(Timer::TimerApagar, 19);
  EXPECT_EQ(principal.CountdownSeconds(), 40);
  Receive(Frame(190, '0'));
  Tick(Timer::TimerApagar, 20);
  EXPECT_EQ(principal.CountdownSeconds(), 60);
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerApagar));
  EXPECT_TRUE(view.Hidden(Control::lblmsg));
  Tick(Timer::TimerApagar);  // 61: full again, the timer rests
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerApagar));
  EXPECT_EQ(principal.CountdownSeconds(), 60);
  EXPECT_FALSE(principal.ShutdownRequested());
}

TEST_F(ShutdownTest, TheNextBatteryFrameAfterTheCountdownDecides) {
  ini.Set("Apaga", "ApagaMinutos", "1");
  ini.Set("Apaga", "ApagaCuantosMinutos", "3");
  Load();
  Receive(Frame(190, '1'));
  Tick(Timer::TimerApagar, 3);
  EXPECT_EQ(view.Text(Control::lblmsg), "Apagando la PC");
  EXPECT_FALSE(principal.ShutdownRequested());  // the tick only counts
  Receive(Frame(190, '1'));
  EXPECT_TRUE(principal.ShutdownRequested());
  EXPECT_EQ(principal.LastLogEntry().rfind("Apagado por tiempo a nivel personalizado ", 0), 0u);
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerApagar));  // stopped once decided
}

TEST_F(ShutdownTest, NoBatteryTimeDecidesOnTheFirstBatteryFrame) {
  ini.Set("Apaga", "ApagaMinutos", "1");
  ini.Set("Apaga", "ApagaCuantosMinutos", "0");
  Load();
  Receive(Frame(190, '1'));
  EXPECT_TRUE(principal.ShutdownRequested());
  EXPECT_EQ(shutdown.requests, std::vector<int>{5});
}

TEST_F(ShutdownTest, TheDisconnectionCountdownShutsDownWithoutAnyFrame) {
  ini.Set("Apaga", "ApagaDesconexion", "1");
  ini.Set("Apaga", "ApagaDesconexionSegundos", "10");
  Load();
  view.EnableTimer(Timer::Timerdesconexion, true);
  Tick(Timer::Timerdesconexion, 9);
  EXPECT_EQ(view.Text(Control::lblmsg), "Apagar en 1 segundos");
  EXPECT_TRUE(shutdown.requests.empty());
  Tick(Timer::Timerdesconexion);
  EXPECT_EQ(shutdown.requests, std::vector<int>{5});
  EXPECT_FALSE(view.TimerEnabled(Timer::Timerdesconexion));
  EXPECT_EQ(Entries("Apagado por tiempo a nivel personalizado "), 1);
  EXPECT_EQ(view.messages_shown[9], "Apagando la PC");
}

TEST_F(ShutdownTest, TheDisconnectionCountdownIsOffWithoutItsSwitch) {
  ini.Set("Apaga", "ApagaDesconexionSegundos", "2");
  Load();
  view.EnableTimer(Timer::Timerdesconexion, true);
  Tick(Timer::Timerdesconexion, 5);
  EXPECT_EQ(principal.DisconnectSeconds(), 2);
  EXPECT_TRUE(shutdown.requests.empty());
}

TEST_F(ShutdownTest, ARefusedShutdownFromTheDisconnectionCountdownReachesTheUser) {
  ini.Set("Apaga", "ApagaDesconexion", "1");
  ini.Set("Apaga", "ApagaDesconexionSegundos", "1");
  Load();
  shutdown.fail = true;
  view.EnableTimer(Timer::Timerdesconexion, true);
  EXPECT_THROW(principal.OnTimer(Timer::Timerdesconexion), CorvaError);
}

TEST_F(ShutdownTest, ShutdownEntriesAreWrittenEvenWithoutBitacora) {
  ini.Set("Prefs", "Bitacora", "0");
  ini.Set("Apaga", "ApagaPorcentaje", "1");
  ini.Set("Apaga", "ApagaQuePorcentaje", "70");
  Load();
  Receive(Frame(190, '1'));
  EXPECT_EQ(Entries("Corte de energía "), 0);
  EXPECT_EQ(Entries("Apagado por bateria a nivel personalizado "), 1);
}

TEST_F(ShutdownTest, TheSequenceSavesSignalsThenShutsDownInThatOrder) {
  ini.Set("Prefs", "GuardaOffice", "1");
  ini.Set("Prefs", "PathOffice", "D:\\Respaldo");
  ini.Set("Apaga", "ApagaTNX", "1");
  ini.Set("Apaga", "ApagaTNXMinutos", "5");
  Load();
  Receive(Frame(200, '0', '3'));  // overload on line power
  EXPECT_EQ(view.messages_shown,
            (std::vector<std::string>{"Guardando Aplicaciones", "Apagar", "Señal a TNX",
                                      "TNX se apaga en 5 minutos"}));
  EXPECT_EQ(office.folders, std::vector<std::string>{"D:\\Respaldo\\"});
  EXPECT_EQ(MSComm2.sent, (Bytes{0x25, 5}));
  EXPECT_EQ(view.pauses, std::vector<int>{1200});
  EXPECT_EQ(shutdown.requests, std::vector<int>{5});
  // The status port made way for the turn-off port, and is open again for the next frames.
  EXPECT_EQ(MSComm1.log, (std::vector<std::string>{"open", "close", "open"}));
  EXPECT_TRUE(MSComm1.open);
}

TEST_F(ShutdownTest, WithoutItsSwitchesTheSequenceNeitherSavesNorSignals) {
  Load();
  Receive(Frame(150, '2'));
  EXPECT_EQ(view.messages_shown, std::vector<std::string>{"Apagar"});
  EXPECT_TRUE(office.folders.empty());
  EXPECT_TRUE(MSComm2.sent.empty());
  EXPECT_TRUE(usb.reports.empty());
  EXPECT_EQ(shutdown.requests, std::vector<int>{5});
}

TEST_F(ShutdownTest, OnTheUsbLinkTheUpsIsToldWithAReport) {
  ini.Set("Apaga", "ApagaTNX", "1");
  ini.Set("Apaga", "ApagaTNXMinutos", "7");
  usb.present = true;
  Load();
  usb.device.Chunk(Frame(150, '2'));  // the UPS shuts itself down
  usb.clock.Advance(1000);
  principal.OnTimer(Timer::TimerUSB);
  ASSERT_TRUE(principal.ShutdownRequested());
  EXPECT_EQ(shutdown.requests, std::vector<int>{5});
  ASSERT_FALSE(usb.reports.empty());
  EXPECT_EQ(usb.reports.back(), (Bytes{2, 0x25, 7, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(MSComm2.sent.empty());
}

TEST_F(ShutdownTest, ARefusedShutdownIsAskedAgainWithoutSavingOrSignallingAgain) {
  ini.Set("Prefs", "GuardaOffice", "1");
  ini.Set("Apaga", "ApagaTNX", "1");
  ini.Set("Apaga", "ApagaTNXMinutos", "5");
  Load();
  shutdown.fail = true;
  Receive(Frame(150, '2'));  // the error is absorbed by the frame's decoding
  Receive(Frame(150, '2'));
  EXPECT_EQ(shutdown.requests, (std::vector<int>{5, 5}));
  EXPECT_EQ(office.folders.size(), 1u);
  EXPECT_EQ(MSComm2.sent, (Bytes{0x25, 5}));
  shutdown.fail = false;
  Receive(Frame(150, '2'));
  Receive(Frame(150, '2'));
  EXPECT_EQ(shutdown.requests.size(), 3u);  // accepted once, not asked again
  EXPECT_TRUE(principal.ShutdownAccepted());
}

// The shutdown module against a scripted system.
class FakeRebootApi : public RebootApi {
 public:
  bool PlatformId(std::uint32_t& id) override {
    calls.push_back("version");
    if (!version_ok) return Fail(1150);
    id = platform;
    return true;
  }
  bool LookupShutdownPrivilege() override { calls.push_back("lookup"); return lookup_ok || Fail(1313); }
  bool CurrentProcessValid() override { calls.push_back("process"); return process_ok || Fail(6); }
  bool OpenToken() override { calls.push_back("token"); return token_ok || Fail(5); }
  bool EnablePrivilege() override { calls.push_back("enable"); return enable_ok || Fail(1300); }
  void CloseToken() override { calls.push_back("close"); }
  bool RequestExit(int flags, std::uint32_t reason) override {
    calls.push_back("exit " + std::to_string(flags) + " " + std::to_string(reason));
    return exit_ok || Fail(1115);
  }
  std::uint32_t LastError() override { return last_error; }
  std::string MessageText(std::uint32_t code) override {
    return code == 5 ? "Acceso denegado.\r\n" : "error " + std::to_string(code);
  }
  bool Fail(std::uint32_t code) {
    last_error = code;
    return false;
  }
  std::vector<std::string> calls;
  std::uint32_t platform = 2, last_error = 0;
  bool version_ok = true, lookup_ok = true, process_ok = true, token_ok = true, enable_ok = true,
       exit_ok = true;
};

CorvaError Raised(Reboot& reboot, int flags) {
  try {
    reboot.ShutdownSystem(flags);
  } catch (const CorvaError& e) {
    return e;
  }
  return CorvaError(0, "", "nothing raised");
}

TEST(Reboot, ShutsDownWithThePrivilegeOnNtAndWithoutItElsewhere) {
  FakeRebootApi api;
  Reboot reboot(api, "Corvamon");
  EXPECT_TRUE(reboot.ShutdownSystem(5));
  EXPECT_EQ(api.calls, (std::vector<std::string>{"version", "lookup", "process", "token", "enable",
                                                 "close", "exit 5 4294967295"}));
  api.calls.clear();
  EXPECT_TRUE(reboot.ShutdownSystem(5));
  EXPECT_EQ(api.calls.front(), "lookup");  // the version is asked once

  FakeRebootApi old;
  old.platform = 1;
  Reboot legacy(old, "Corvamon");
  EXPECT_TRUE(legacy.ShutdownSystem(5));
  EXPECT_EQ(old.calls, (std::vector<std::string>{"version", "exit 5 4294967295"}));
}

TEST(Reboot, AFailedVersionQueryIsAskedAgainNextTime) {
  FakeRebootApi api;
  api.version_ok = false;
  Reboot reboot(api, "Corvamon");
  EXPECT_FALSE(reboot.IsWindowsNT());
  api.version_ok = true;
  EXPECT_TRUE(reboot.IsWindowsNT());
  EXPECT_TRUE(reboot.IsWindowsNT());
  EXPECT_EQ(std::count(api.calls.begin(), api.calls.end(), "version"), 2);
}

TEST(Reboot, FlagsOutsideTheirRangeAreRefusedBeforeAnything) {
  FakeRebootApi api;
  Reboot reboot(api, "Corvamon");
  for (int flags : {32, -1}) {
    const CorvaError e = Raised(reboot, flags);
    EXPECT_EQ(e.Number(), 0x8004062Fu);
    EXPECT_EQ(e.Source(), "Corvamon.mShutDown");
    EXPECT_EQ(e.Description(), "Invalid parameter to ShutdownSystem: " + std::to_string(flags));
  }
  EXPECT_TRUE(api.calls.empty());
}

TEST(Reboot, PrivilegeFailuresCarryTheirNumbersAndTexts) {
  {
    FakeRebootApi api;
    api.lookup_ok = false;
    Reboot reboot(api, "Corvamon");
    const CorvaError e = Raised(reboot, 5);
    EXPECT_EQ(e.Number(), 0x8004062Cu);
    EXPECT_EQ(e.Description(),
              "Can't enable shutdown: Can't find the SE_SHUTDOWN_NAME privilege value. [error 1313]");
  }
  {
    FakeRebootApi api;
    api.process_ok = false;
    Reboot reboot(api, "Corvamon");
    const CorvaError e = Raised(reboot, 5);
    EXPECT_EQ(e.Number(), 0x8004062Du);
    EXPECT_EQ(e.Description(), "Can't enable shutdown: Can't determine the current process. [error 6]");
  }
  {
    FakeRebootApi api;
    api.token_ok = false;
    Reboot reboot(api, "Corvamon");
    const CorvaError e = Raised(reboot, 5);
    EXPECT_EQ(e.Number(), 0x8004062Eu);
    EXPECT_EQ(e.Description(),
              "No puedo apagar la PC: No tienes suficientes privilegios [Acceso denegado.\r\n]");
    EXPECT_EQ(std::count(api.calls.begin(), api.calls.end(), "exit 5 4294967295"), 0);
  }
  {
    FakeRebootApi api;
    api.enable_ok = false;
    Reboot reboot(api, "Corvamon");
    const CorvaError e = Raised(reboot, 5);
    EXPECT_EQ(e.Number(), 0x8004062Eu);
    EXPECT_EQ(e.Description(), "No puedo apagar la PC: No tienes suficientes privilegios [error 1300]");
    EXPECT_EQ(api.calls.back(), "close");  // the token is closed, and no shutdown is asked
  }
}

TEST(Reboot, ARefusedShutdownSaysWhy) {
  FakeRebootApi api;
  api.exit_ok = false;
  Reboot reboot(api, "Corvamon");
  const CorvaError e = Raised(reboot, 5);
  EXPECT_EQ(e.Number(), 0x8004062Bu);
  EXPECT_EQ(e.Description(), "ShutdownSystem failed: error 1115");
  EXPECT_EQ(UnhandledErrorText(e), "Error -2147219925 (8004062B)\r\n\r\nShutdownSystem failed: error 1115");
}

}  // namespace
}  // namespace corva
