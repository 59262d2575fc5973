#include <gtest/gtest.h>

#include "principal.h"
#include "../fakes/monitor_rig.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;
using fakes::FakeSerialPort;

class PrincipalTest : public ::testing::Test, protected fakes::MonitorRig {
 protected:
  PrincipalTest() {
    ini.Set("Inicio", "DataString", "&&&10");
    MSComm1.can_open = true;
    MSComm2.SetCommPort(1);
    MSComm2.SetSettings("9600,N,8,1");
  }
  void Load() { principal.Load("C:\\Programas\\Corvamon"); }

  Principal principal{Ports([] { return std::string("C:\\Users\\ana\\Documents"); })};
};

TEST_F(PrincipalTest, StartsOnTheSerialLinkWithTheDesignedPortSetUp) {
  Load();
  EXPECT_EQ(principal.Settings().SettingsPath, "C:\\Programas\\Corvamon\\Corvamon.ini");
  EXPECT_EQ(principal.Settings().FrameLength, 10);
  EXPECT_EQ(principal.FrameBuffer().size(), 21u);
  EXPECT_EQ(usb.searches, std::vector<std::string>{"Corvamon"});
  EXPECT_FALSE(principal.UsbMode());
  EXPECT_FALSE(principal.UsbOpen());
  EXPECT_EQ(principal.FramePos(), 1);
  EXPECT_TRUE(principal.FirstActivation());
  EXPECT_TRUE(principal.LastLogEntry().empty());
  EXPECT_EQ(MSComm1.port, 1);
  EXPECT_EQ(MSComm1.settings, "9600,N,8,1");
  EXPECT_EQ(MSComm1.input_len, 0);
  EXPECT_EQ(MSComm1.input_mode, 1);
  EXPECT_EQ(MSComm1.out_buffer_size, 4);
  EXPECT_EQ(MSComm1.sthreshold, 5);
  EXPECT_EQ(MSComm1.rthreshold, 5);
  EXPECT_TRUE(MSComm1.open);
  EXPECT_EQ(view.link, LinkPicture::Serial);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(view.timers.empty());
}

TEST_F(PrincipalTest, APortThatWillNotOpenShowsTheBoxThenTheMessageAndGoesOn) {
  MSComm1.can_open = false;
  Load();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0], "Corvamon|No encontré el equipo KRD\r\nERROR en la conexión");
  EXPECT_EQ(view.Text(Control::lblmsg), "Error en la conexión");
  EXPECT_EQ(view.link, LinkPicture::Serial);
  EXPECT_TRUE(principal.LastLogEntry().empty());
}

TEST_F(PrincipalTest, TheSerialLinkUsesThePortTheSettingsName) {
  const std::pair<const char*, int> cases[] = {{"3", 3},   {"USB", 1}, {"0", 1},
                                               {"abc", 1}, {"300", 1}, {"255", 255}};
  for (const auto& [value, port] : cases) {
    fakes::FakeSettings settings;
    settings.Set("Inicio", "CommPort", value);
    MonitorSettings s;
    LoadSettings(s, [&](std::string_view section, std::string_view key) {
      return settings.Read(section, key);
    });
    EXPECT_EQ(Principal::SerialPortFromSettings(s), port) << value;
  }
}

TEST_F(PrincipalTest, AComPortThatWillNotOpenFallsBackToCom1AndTheTurnOffFollowsTheFrames) {
  ini.Set("Inicio", "CommPort", "3");
  ini.Set("Apaga", "ApagaTNXMinutos", "5");
  MSComm1.port_opens = [](int port) { return port == 1; };
  Load();
  EXPECT_EQ(MSComm1.opened, std::vector<int>{1});
  EXPECT_EQ(principal.StatusPort(), 1);
  EXPECT_TRUE(view.messages.empty());  // no connection error: the UPS was on COM1

  // Where COM3 opens, the frames come from it, and so does the turn-off command go.
  fakes::MonitorRig rig;
  rig.ini.Set("Inicio", "DataString", "&&&10");
  rig.ini.Set("Inicio", "CommPort", "3");
  Principal on_com3{rig.Ports()};
  on_com3.Load("C:\\Corvamon");
  EXPECT_EQ(rig.MSComm1.opened, std::vector<int>{3});
  ASSERT_TRUE(on_com3.SignalUpsTurnOffSerial());
  EXPECT_EQ(rig.MSComm2.port, 3);
  EXPECT_EQ(rig.MSComm2.sent, (Bytes{0x25, 0}));
}

// Fault: a serial read that failed (a USB-serial adapter pulled out) stopped reception for good,
// and the window went on showing the last readings as if nothing had happened.
TEST_F(PrincipalTest, ALostSerialDeviceIsSaidAndItsPortOpenedAgainOnceItIsBack) {
  ini.Set("Inicio", "CommPort", "3");
  Load();
  MSComm1.Arrive({'&', '&', '&', 56, 120, 200, 65, 92, '0', '0'});
  ASSERT_EQ(principal.FramesDecoded(), 1u);

  MSComm1.Raise(comm::kEventLost);
  EXPECT_FALSE(MSComm1.open);
  EXPECT_EQ(view.Text(Control::lblmsg), "Error en la conexión");
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerBuscaSerial));
  EXPECT_EQ(principal.FramesDecoded(), 1u);  // the event is not a frame

  MSComm1.can_open = false;  // still unplugged at the next tick
  principal.OnTimer(Timer::TimerBuscaSerial);
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerBuscaSerial));
  MSComm1.can_open = true;
  principal.OnTimer(Timer::TimerBuscaSerial);
  EXPECT_TRUE(MSComm1.open);
  EXPECT_EQ(MSComm1.port, 3);  // the same port as before
  EXPECT_FALSE(view.TimerEnabled(Timer::TimerBuscaSerial));
  EXPECT_EQ(view.Text(Control::lblmsg), "");
  MSComm1.Arrive({'&', '&', '&', 56, 120, 200, 65, 92, '0', '0'});
  EXPECT_EQ(principal.FramesDecoded(), 2u);
}

TEST_F(PrincipalTest, AUsbDeviceFoundStartsTheUsbTimerInsteadOfTheSerialPort) {
  usb.present = true;
  Load();
  EXPECT_TRUE(principal.UsbMode());
  EXPECT_TRUE(principal.UsbOpen());
  EXPECT_TRUE(view.TimerEnabled(Timer::TimerUSB));
  EXPECT_EQ(view.link, LinkPicture::Usb);
  EXPECT_FALSE(MSComm1.open);
  EXPECT_GE(view.do_events, 1);
}

TEST_F(PrincipalTest, CountdownsStartFull) {
  ini.Set("Apaga", "ApagaCuantosMinutos", "60");
  ini.Set("Apaga", "ApagaDesconexionSegundos", "10");
  Load();
  EXPECT_EQ(principal.CountdownSeconds(), 60);
  EXPECT_EQ(principal.DisconnectSeconds(), 10);
}

TEST_F(PrincipalTest, SaveFolderIsTrimmedAndFilledWhenEmpty) {
  ini.Set("Prefs", "PathOffice", "  D:\\Respaldo  ");
  Load();
  EXPECT_EQ(principal.Settings().PathOffice, "D:\\Respaldo\\");

  ini.Set("Prefs", "PathOffice", "");
  ini.Set("Prefs", "GuardaOffice", "1");
  Load();
  EXPECT_EQ(principal.Settings().PathOffice, "C:\\Users\\ana\\Documents\\");

  ini.values.erase(fakes::FakeSettings::Key("Prefs", "PathOffice"));
  Load();
  EXPECT_EQ(principal.Settings().PathOffice, "0\\");
}

TEST_F(PrincipalTest, MuteAndTestButtonsFollowTheirSwitches) {
  ini.Set("Prefs", "MostrarMute", "0");
  ini.Set("Prefs", "MostrarTest", "2");
  Load();
  EXPECT_TRUE(view.Hidden(Control::IBMute));
  EXPECT_FALSE(view.Hidden(Control::IBTest));
  EXPECT_TRUE(usb.reports.empty());  // no alarm command without the mute button

  ini.Set("Prefs", "MostrarMute", "1");
  ini.Set("Prefs", "MostrarTest", "0");
  ini.Set("Prefs", "AlarmaConSonido", "1");
  view.hidden.clear();
  Load();
  EXPECT_FALSE(view.Hidden(Control::IBMute));
  EXPECT_TRUE(view.Hidden(Control::IBTest));
  EXPECT_EQ(view.mute_pictures, std::vector<bool>{true});
  // The alarm command precedes the device search and reaches no device.
  ASSERT_EQ(usb.reports.size(), 1u);
  EXPECT_EQ(usb.reports[0], (Bytes{1, 'A', 0, 0, 0, 0, 0, 0}));
}

TEST_F(PrincipalTest, MuteButtonSwitchesTheAlarmAndWritesItBack) {
  ini.Set("Prefs", "MostrarMute", "1");
  ini.Set("Prefs", "AlarmaConSonido", "1");
  Load();
  principal.IBMute_Click();
  EXPECT_FALSE(principal.Settings().AlarmaConSonido);
  EXPECT_EQ(view.mute_pictures.back(), false);
  EXPECT_EQ(usb.reports.back(), (Bytes{1, 'a', 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ini.writes.back(), "Prefs/AlarmaConSonido=0");
  principal.IBMute_Click();
  EXPECT_TRUE(principal.Settings().AlarmaConSonido);
  EXPECT_EQ(view.mute_pictures.back(), true);
  EXPECT_EQ(ini.writes.back(), "Prefs/AlarmaConSonido=1");
}

TEST_F(PrincipalTest, CloseButtonEndsOrHidesByCierraconX) {
  Load();
  principal.Activate();
  principal.IBClose_Click();
  EXPECT_EQ(view.unloads, 0);
  EXPECT_EQ(view.hides, 1);
  ini.Set("Prefs", "CierraconX", "1");
  Load();
  principal.IBClose_Click();
  EXPECT_EQ(view.unloads, 1);
  principal.ImgConn_Click();
  EXPECT_EQ(view.unloads, 2);
}

TEST_F(PrincipalTest, SelfTestOnlyOnLinePower) {
  usb.present = true;
  Load();
  principal.ImgMainBat_DblClick();
  EXPECT_TRUE(view.Hidden(Control::lblidenti));
  EXPECT_EQ(usb.reports.back(), (Bytes{1, '~', 0, 0, 0, 0, 0, 0}));
  // A line failure comes from the device.
  usb.device.Chunk({'&', '&', '&', 56, 120, 200, 65, 92, '0', '1'});
  usb.clock.Advance(1000);
  principal.OnTimer(Timer::TimerUSB);
  ASSERT_TRUE(principal.OnBattery());
  const auto before = usb.reports.size();
  principal.ImgMainBat_DblClick();
  EXPECT_EQ(usb.reports.size(), before);
}

TEST_F(PrincipalTest, FirstActivationAddsTheTrayIconOnce) {
  ini.Set("Prefs", "IniciaMin", "1");
  Load();
  principal.Activate();
  principal.Activate();
  EXPECT_EQ(tray.tips, std::vector<std::string>{"KRD Tarnix Corvamon"});
  EXPECT_EQ(tray.log, std::vector<std::string>{"hook"});
  EXPECT_TRUE(principal.TrayIconPresent());
  EXPECT_EQ(view.hides, 1);
  EXPECT_FALSE(principal.FirstActivation());
}

TEST_F(PrincipalTest, WithoutATrayIconTheWindowStaysShown) {
  ini.Set("Prefs", "IniciaMin", "1");
  tray.result = 0;
  Load();
  principal.Activate();
  EXPECT_FALSE(principal.TrayIconPresent());
  EXPECT_TRUE(tray.log.empty());
  EXPECT_EQ(view.restores, 1);
  EXPECT_EQ(view.hides, 0);
  // With no tray icon to come back from, hiding minimises instead.
  principal.IBMin_Click();
  principal.IBClose_Click();
  EXPECT_EQ(view.hides, 0);
  EXPECT_EQ(view.minimizes, 2);
}

TEST_F(PrincipalTest, UnloadClosesWhatIsOpen) {
  Load();
  principal.Activate();
  principal.Unload();
  EXPECT_FALSE(MSComm1.open);
  EXPECT_EQ(tray.log, (std::vector<std::string>{"hook", "delete", "unhook"}));
  EXPECT_EQ(usb.closes, 0);
}

Bytes Frame(std::uint8_t mode, std::uint8_t period_low = 92) {
  return {'&', '&', '&', 56, 120, 200, 65, period_low, '0', mode};
}

TEST_F(PrincipalTest, FramesReachDecodingWhole) {
  Load();
  MSComm1.Arrive({'&', '&', '&', 56, 120});  // 5 bytes: event, but not a frame yet
  EXPECT_EQ(principal.FramesDecoded(), 0u);
  EXPECT_EQ(MSComm1.waiting.size(), 5u);  // left in the port
  MSComm1.Arrive({200, 65, 92, '0'});
  EXPECT_EQ(principal.FramesDecoded(), 0u);  // 9 of 10
  MSComm1.Arrive({'1'});
  ASSERT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), Frame('1'));
  EXPECT_TRUE(MSComm1.waiting.empty());
}

TEST_F(PrincipalTest, TwoFramesTogetherDecodeTheFirst) {
  Load();
  Bytes two = Frame('1');
  const Bytes second = Frame('0');
  two.insert(two.end(), second.begin(), second.end());
  two.insert(two.end(), {'&', '&', '&'});
  MSComm1.Arrive(two);
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), Frame('1'));
  EXPECT_EQ(principal.FrameBuffer().size(), 23u);
  EXPECT_TRUE(MSComm1.waiting.empty());
}

TEST_F(PrincipalTest, NoiseAheadOfAFrameNeverShiftsTheFrame) {
  Load();
  // Noise, then a frame whose period byte is '2'.
  MSComm1.Arrive({0x11, 0x22, '&', '&', '&', 56, 120, 200, 65, '2'});
  EXPECT_EQ(principal.FramesDecoded(), 0u);
  // The port is asked to report the two missing bytes as soon as they come.
  EXPECT_EQ(MSComm1.rthreshold, 2);
  MSComm1.Arrive({'0', '0'});
  ASSERT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.LastFrame(), Frame('0', '2'));
  EXPECT_EQ(MSComm1.rthreshold, 5);
}

TEST_F(PrincipalTest, PureNoiseDecodesNothing) {
  Load();
  MSComm1.Arrive({'2', '2', '2', '2', '2', '2', '2', '2', '2', '2', '2', '2'});
  EXPECT_EQ(principal.FramesDecoded(), 0u);
  EXPECT_TRUE(MSComm1.waiting.empty());
}

TEST_F(PrincipalTest, OtherPortEventsDecodeTheLastFrameAgain) {
  Load();
  MSComm1.Raise(3);
  EXPECT_EQ(principal.FramesDecoded(), 0u);  // nothing received yet
  MSComm1.Arrive(Frame('0'));
  MSComm1.Raise(3);
  EXPECT_EQ(principal.FramesDecoded(), 2u);
  EXPECT_EQ(principal.LastFrame(), Frame('0'));
}

// What the window showed for each frame of a run: the frame and its readings as shown.
std::vector<std::string> ShownFrames(const std::string& data_string,
                                     const std::vector<Bytes>& bursts,
                                     std::vector<std::string>* lblmsg = nullptr) {
  fakes::MonitorRig rig;
  rig.ini.Set("Inicio", "DataString", data_string);
  rig.MSComm1.can_open = true;
  Principal principal{rig.Ports()};
  principal.Load("C:\\Corvamon");
  std::vector<std::string> shown;
  std::uint64_t decoded = 0;
  for (const Bytes& burst : bursts) {
    rig.MSComm1.Arrive(burst);
    if (principal.FramesDecoded() == decoded) continue;
    decoded = principal.FramesDecoded();
    shown.push_back(fakes::ShownFrame(principal, rig.view));
  }
  if (lblmsg) *lblmsg = rig.view.messages_shown;
  return shown;
}

// Fault: a first install on a UPS whose DataString Corvaset could not learn (DataString=0) read
// nothing for ever. The monitor learns the kind from the first header instead, and then reads
// every frame exactly as it would with the right DataString.
TEST(PrincipalLearning, WithoutAUsableDataStringTheFirstHeaderGivesTheFrameKind) {
  const Bytes amp_line = {'&', '&', '&', 56, 120, 200, 65, 92, '0', '0'};
  const Bytes amp_battery = {'&', '&', '&', 56, 120, 150, 65, 92, '0', '1'};
  const Bytes star_line = {'*', '*', '*', 0, 215, 0, 65, '0', '0'};
  const Bytes star_battery = {'*', '*', '*', 0, 150, 0, 65, '0', '1'};
  const auto split = [](const Bytes& frame, std::size_t at) {
    return std::vector<Bytes>{Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(at)),
                              Bytes(frame.begin() + static_cast<std::ptrdiff_t>(at), frame.end())};
  };
  struct Kind {
    const char* data_string;
    std::vector<Bytes> bursts;
  };
  const Kind kinds[] = {
      {"&&&10",
       {Bytes{'2', '&'}, amp_line, amp_battery, split(amp_line, 4)[0], split(amp_line, 4)[1]}},
      {"***9",
       {Bytes{'2', '*'}, star_line, star_battery, split(star_line, 2)[0], split(star_line, 2)[1]}},
  };
  for (const Kind& kind : kinds) {
    const std::vector<std::string> right = ShownFrames(kind.data_string, kind.bursts);
    ASSERT_EQ(right.size(), 3u) << kind.data_string;
    for (const char* unusable : {"0", "", "&&&", "&&&12"}) {
      std::vector<std::string> lblmsg;
      EXPECT_EQ(ShownFrames(unusable, kind.bursts, &lblmsg), right)
          << kind.data_string << " read with DataString=" << unusable;
      // The hint stays only until the kind is known.
      ASSERT_GE(lblmsg.size(), 2u) << unusable;
      EXPECT_EQ(lblmsg.front(), "Revise DataString en Corvamon.ini");
      EXPECT_EQ(lblmsg.back(), "");
    }
  }
  // Noise alone teaches nothing, and the hint stays.
  std::vector<std::string> lblmsg;
  EXPECT_TRUE(
      ShownFrames("0", {Bytes{'2', '2', '2', '2', '2', '2', '2', '2', '2', '2'}}, &lblmsg).empty());
  EXPECT_EQ(lblmsg, std::vector<std::string>{"Revise DataString en Corvamon.ini"});
}

TEST_F(PrincipalTest, TheLearnedKindIsNeverWrittenBack) {
  ini.Set("Inicio", "DataString", "0");
  Load();
  MSComm1.Arrive(Frame('0'));
  EXPECT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(principal.Settings().FrameLength, 10);
  EXPECT_TRUE(ini.writes.empty());
}

TEST_F(PrincipalTest, SerialTurnOffSendsPercentPauseThenMinutes) {
  ini.Set("Apaga", "ApagaTNXMinutos", "5");
  Load();
  ASSERT_TRUE(MSComm1.open);
  EXPECT_TRUE(principal.SignalUpsTurnOffSerial());
  EXPECT_FALSE(MSComm1.open);
  EXPECT_FALSE(MSComm2.open);
  EXPECT_EQ(MSComm2.sent, (Bytes{0x25, 0x05}));
  EXPECT_EQ(MSComm2.log, (std::vector<std::string>{"open", "byte 37", "byte 5", "close"}));
  EXPECT_EQ(view.pauses, std::vector<int>{1200});
  EXPECT_EQ(view.Text(Control::lblmsg), "TNX se apaga en 5 minutos");
}

TEST_F(PrincipalTest, SerialTurnOffTakesTheMinutesAsOneByte) {
  ini.Set("Apaga", "ApagaTNXMinutos", "300");
  Load();
  principal.SignalUpsTurnOffSerial();
  EXPECT_EQ(MSComm2.sent, (Bytes{0x25, 255}));
}

TEST_F(PrincipalTest, SerialTurnOffStopsWhenThePortFails) {
  Load();
  MSComm2.can_open = false;
  EXPECT_FALSE(principal.SignalUpsTurnOffSerial());
  EXPECT_TRUE(MSComm2.sent.empty());
  EXPECT_EQ(view.Text(Control::lblmsg), "");

  MSComm2.can_open = true;
  MSComm2.stuck_output = true;  // the byte never leaves
  EXPECT_FALSE(principal.SignalUpsTurnOffSerial());
  EXPECT_EQ(MSComm2.sent, Bytes{0x25});
  EXPECT_TRUE(view.pauses.empty());
  EXPECT_FALSE(MSComm2.open);
}

TEST_F(PrincipalTest, SendEventOfTheTurnOffPortShowsSentOk) {
  Load();
  MSComm2.Raise(protocol::kCommEventSend);
  EXPECT_EQ(view.Text(Control::lblmsg), "Enviado OK");
  view.texts.clear();
  MSComm2.Raise(protocol::kCommEventReceive);
  EXPECT_EQ(view.Text(Control::lblmsg), "");
}

}  // namespace
}  // namespace corva
