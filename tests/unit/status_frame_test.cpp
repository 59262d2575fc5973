// Decoding status frames, the power events they raise and the event log they write.

#include <gtest/gtest.h>

#include "principal.h"
#include "../fakes/monitor_rig.h"

namespace corva {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A 10-byte frame: reading 14400 (root 120), battery byte, period 16667 (60 Hz).
Bytes Frame(std::uint8_t battery, std::uint8_t line, std::uint8_t mode, std::uint8_t volt_high = 56,
            std::uint8_t volt_low = 120, std::uint8_t period_high = 65, std::uint8_t period_low = 92) {
  return {'&', '&', '&', volt_high, volt_low, battery, period_high, period_low, line, mode};
}

class StatusFrameTest : public ::testing::Test, protected fakes::MonitorRig {
 protected:
  StatusFrameTest() {
    ini.Set("Inicio", "DataString", "&&&10");
    ini.Set("Prefs", "Bitacora", "1");
    ini.Set("Prefs", "NotifAviso", "1");
  }
  void Load() { principal.Load("C:\\Corvamon"); }
  void Receive(const Bytes& frame) { MSComm1.Arrive(frame); }
  std::string Text(Control c) const { return view.Text(c); }

  Principal principal{Ports()};
};

constexpr char kStart[] =
    "Inicio de Monitoreo KRD 06/03/2026  14:05:09\r\n"
    "\tOperacion Normal\r\n\tVoltaje 125.4 Volts\r\n\tFrecuencia 60.0 Hz\r\n"
    "\tLinea Normal\r\n\tBateria 80.00 %\r\n";

TEST_F(StatusFrameTest, ALinePowerFrameFillsTheLabelsAndWritesTheStartEntryOnce) {
  Load();
  Receive(Frame(200, '0', '0'));
  EXPECT_EQ(Text(Control::lblvolt), "125.4 Volts");
  EXPECT_EQ(Text(Control::lblfr), "60.0 Hz");
  EXPECT_EQ(Text(Control::lblbat), "80.00 %");
  EXPECT_EQ(Text(Control::lblop), "Normal");
  EXPECT_EQ(view.gauge, 8);
  EXPECT_FALSE(view.Hidden(Control::lblidenti));
  EXPECT_FALSE(principal.OnBattery());
  EXPECT_EQ(log.contents, kStart);
  EXPECT_EQ(principal.LastLogEntry() + "\r\n", kStart);

  Receive(Frame(200, '0', '0'));
  EXPECT_EQ(log.contents, kStart);  // once per run
  EXPECT_TRUE(tray.balloons.empty());
  EXPECT_FALSE(principal.ShutdownRequested());
}

TEST_F(StatusFrameTest, ExactCalibrationPointsAndTheUsersDecimalSeparator) {
  platform.separators.decimal = ",";
  Load();
  Receive(Frame(190, '0', '0', 22, 15));  // 22 * 255 + 15 = 5625, root 75
  EXPECT_EQ(Text(Control::lblvolt), "96,0 Volts");
  EXPECT_EQ(Text(Control::lblbat), "66,67 %");
}

TEST_F(StatusFrameTest, AStarFrameReadsItsFieldsOnePositionEarlier) {
  ini.Set("Inicio", "DataString", "***9");
  Load();
  // Byte 4 is both the voltage byte and the battery byte, byte 7 the period's low part and the
  // line status.
  Receive(Bytes{'*', '*', '*', 0, 215, 0, 65, '0', '0'});
  EXPECT_EQ(Text(Control::lblvolt), "126.0 Volts");
  EXPECT_EQ(Text(Control::lblbat), "100.00 %");
  EXPECT_EQ(Text(Control::lblfr), "60.2 Hz");  // 65 * 255 + '0' = 16623 us
  EXPECT_EQ(Text(Control::lblop), "Normal");
}

TEST_F(StatusFrameTest, OverflowingReadingsAndAZeroPeriodLeaveZeros) {
  Load();
  Receive(Frame(200, '0', '0', 129, 0, 0, 0));
  EXPECT_EQ(Text(Control::lblvolt), "0.0 Volts");
  EXPECT_EQ(Text(Control::lblfr), "0.0 Hz");
  EXPECT_EQ(Text(Control::lblbat), "80.00 %");
}

TEST_F(StatusFrameTest, OddStatusAndModeCharacters) {
  Load();
  Receive(Frame(200, '7', 'x'));
  EXPECT_EQ(Text(Control::lblop), "Normal");  // line class of an unknown status
  EXPECT_EQ(Text(Control::lblfr), "60.0 Hz");  // any other mode byte: 60 Hz
  EXPECT_EQ(Text(Control::lblvolt), "0.0 Volts");
  EXPECT_FALSE(principal.OnBattery());
  EXPECT_FALSE(principal.ShutdownRequested());
  EXPECT_NE(log.contents.find("\tOperacion N/A\r\n"), std::string::npos);
}

TEST_F(StatusFrameTest, APowerFailureWritesOneEntryAndOneBalloonForManyBatteryFrames) {
  ini.Set("Prefs", "NotifMaximiza", "1");
  Load();
  Receive(Frame(200, '0', '0'));
  log.contents.clear();
  Receive(Frame(190, '1', '1'));
  // The first battery frame still divides by 75: the UPS was on line power until this frame.
  EXPECT_EQ(log.contents,
            "Corte de energía 06/03/2026  14:05:09\r\n\tOperacion con Bateria \r\n"
            "\tBateria 66.67 %\r\n");
  EXPECT_EQ(tray.balloons, std::vector<std::string>{"1|Corvamon| FALLA DE LINEA "});
  EXPECT_EQ(view.fronts, 1);
  EXPECT_TRUE(principal.OnBattery());
  EXPECT_EQ(Text(Control::lblvolt), "Monitoreando Equipo");
  EXPECT_EQ(Text(Control::lblop), "Bateria");
  EXPECT_TRUE(view.Hidden(Control::lblidenti));
  ASSERT_FALSE(tray.modified.empty());
  EXPECT_EQ(tray.modified.back(), std::make_pair(6, std::string("Corvamon - Bateria al 67%")));

  Receive(Frame(190, '1', '1'));
  EXPECT_EQ(Text(Control::lblbat), "100.00 %");  // now divided by 50
  EXPECT_EQ(tray.modified.back(), std::make_pair(10, std::string("Corvamon - Bateria al 100%")));
  EXPECT_EQ(tray.balloons.size(), 1u);
  EXPECT_EQ(view.fronts, 1);
  EXPECT_EQ(std::count(log.contents.begin(), log.contents.end(), '\n'), 3);
}

TEST_F(StatusFrameTest, ReturnOfPowerRestoresTheIconAndHidesTheWindow) {
  Load();
  principal.Activate();  // the tray icon the window hides to
  ASSERT_TRUE(principal.TrayIconPresent());
  Receive(Frame(200, '0', '0'));
  Receive(Frame(180, '1', '1'));
  log.contents.clear();
  tray.balloons.clear();
  Receive(Frame(180, '0', '0'));
  EXPECT_EQ(log.contents, "Retorno de energía 06/03/2026  14:05:09\r\n");
  EXPECT_EQ(tray.balloons, std::vector<std::string>{"1|Corvamon| Retorno de Energía "});
  EXPECT_EQ(tray.modified.back(), std::make_pair(kTrayMainIcon, std::string("Corvamon")));
  EXPECT_FALSE(principal.OnBattery());
  EXPECT_EQ(view.hides, 1);
  EXPECT_FALSE(view.Hidden(Control::lblidenti));
  // The return entry is not remembered as the last entry.
  EXPECT_EQ(principal.LastLogEntry().rfind("Corte de energía ", 0), 0u);
}

TEST_F(StatusFrameTest, StartingOnBatteryWritesTheFailureAndNeverTheStartEntry) {
  Load();
  Receive(Frame(190, '1', '1'));
  Receive(Frame(190, '0', '0'));
  Receive(Frame(190, '0', '0'));
  EXPECT_EQ(log.contents.find("Inicio de Monitoreo"), std::string::npos);
  EXPECT_EQ(log.contents.rfind("Corte de energía ", 0), 0u);
  EXPECT_NE(log.contents.find("Retorno de energía "), std::string::npos);
}

TEST_F(StatusFrameTest, TheUpsShuttingDownRequestsTheShutdown) {
  Load();
  Receive(Frame(200, '0', '0'));
  log.contents.clear();
  Receive(Frame(150, '0', '2'));
  EXPECT_EQ(log.contents,
            "Cierre Forzado 06/03/2026  14:05:09\r\n\tOperacion BATERIA AGOTADA \r\n"
            "\tBateria 13.33 %\r\n");
  EXPECT_TRUE(principal.ShutdownRequested());
  EXPECT_FALSE(principal.OnBattery());
  EXPECT_EQ(principal.ShutdownSequenceRuns(), 1u);
  EXPECT_EQ(Text(Control::lblvolt), "0.0 Volts");
  // Once requested, every later frame asks again.
  Receive(Frame(200, '0', '0'));
  EXPECT_EQ(principal.ShutdownSequenceRuns(), 2u);
}

TEST_F(StatusFrameTest, OverloadOnLinePowerRequestsTheShutdown) {
  Load();
  Receive(Frame(200, '3', '0'));
  EXPECT_EQ(Text(Control::lblop), "Sobrecarga");
  EXPECT_TRUE(principal.ShutdownRequested());
  EXPECT_EQ(principal.ShutdownSequenceRuns(), 1u);
}

TEST_F(StatusFrameTest, OverloadOnBatteryShowsTheModeAndDecidesNothing) {
  Load();
  Receive(Frame(200, '3', '1'));
  EXPECT_EQ(Text(Control::lblop), "Bateria");
  EXPECT_FALSE(principal.ShutdownRequested());
}

TEST_F(StatusFrameTest, WithoutBitacoraNoEntriesAreWritten) {
  ini.Set("Prefs", "Bitacora", "0");
  Load();
  Receive(Frame(200, '0', '0'));
  Receive(Frame(190, '1', '1'));
  Receive(Frame(190, '0', '0'));
  Receive(Frame(190, '0', '2'));
  EXPECT_EQ(log.appends, 0);
  EXPECT_TRUE(principal.ShutdownRequested());
}

TEST_F(StatusFrameTest, ABatteryBelowZeroShowsTheEmptyIconAndKeepsTheGauge) {
  Load();
  Receive(Frame(200, '0', '0'));
  Receive(Frame(100, '1', '1'));  // -53.33 % on the first battery frame
  Receive(Frame(100, '1', '1'));  // -80 %
  EXPECT_EQ(Text(Control::lblbat), "-80.00 %");
  EXPECT_EQ(tray.modified.back(), std::make_pair(0, std::string("Corvamon - Bateria al -80%")));
  EXPECT_EQ(view.gauge, 8);  // from the first frame; -8 is no gauge picture
}

TEST_F(StatusFrameTest, EntriesThatCannotBeWrittenWaitAndKeepTheirTime) {
  Load();
  log.locked = true;
  Receive(Frame(200, '0', '0'));
  platform.now.second = 30;
  Receive(Frame(190, '1', '1'));
  EXPECT_TRUE(log.contents.empty());
  EXPECT_EQ(principal.Log().Pending(), 2u);
  log.locked = false;
  platform.now.minute = 6;
  Receive(Frame(190, '0', '0'));
  EXPECT_EQ(principal.Log().Pending(), 0u);
  const std::string expected = std::string(kStart) +
                               "Corte de energía 06/03/2026  14:05:30\r\n\tOperacion con Bateria \r\n"
                               "\tBateria 66.67 %\r\nRetorno de energía 06/03/2026  14:06:30\r\n";
  EXPECT_EQ(log.contents, expected);
}

TEST_F(StatusFrameTest, UsbFramesAreUncalibrated) {
  usb.present = true;
  Load();
  usb.device.Chunk(Frame(200, '0', '0'));
  usb.clock.Advance(1000);
  principal.OnTimer(Timer::TimerUSB);
  ASSERT_EQ(principal.FramesDecoded(), 1u);
  EXPECT_EQ(Text(Control::lblvolt), "121.2 Volts");
}

TEST(EventLogWriter, KeepsAtMostTheNewestThousandEntriesWhileTheFileIsLocked) {
  fakes::FakeLogFile file;
  file.locked = true;
  EventLogWriter writer(file);
  for (int i = 0; i < 1005; ++i) EXPECT_FALSE(writer.AppendLogEntry(std::string("e").append(std::to_string(i))));
  EXPECT_EQ(writer.Pending(), EventLogWriter::kMaxPending);
  EXPECT_EQ(writer.Dropped(), 5u);
  file.locked = false;
  EXPECT_TRUE(writer.AppendLogEntry("last"));
  EXPECT_EQ(file.contents.rfind("e5\r\ne6\r\n", 0), 0u);
  EXPECT_EQ(file.contents.substr(file.contents.size() - 13), "e1004\r\nlast\r\n");
  EXPECT_EQ(writer.Pending(), 0u);
}

// Fault: after a short write the whole batch stayed queued, and the part that had landed was
// written a second time.
TEST(EventLogWriter, AShortWriteKeepsOnlyWhatDidNotLand) {
  fakes::FakeLogFile file;
  EventLogWriter writer(file);
  file.room = 12;  // the disk fills up inside the second entry
  EXPECT_TRUE(writer.AppendLogEntry("first"));
  EXPECT_FALSE(writer.AppendLogEntry("second"));
  EXPECT_EQ(file.contents, "first\r\nsecon");
  EXPECT_EQ(writer.Pending(), 1u);
  file.room = 1;  // and again, a little later
  EXPECT_FALSE(writer.WritePending());
  file.room = static_cast<std::size_t>(-1);
  EXPECT_TRUE(writer.AppendLogEntry("third"));
  EXPECT_EQ(file.contents, "first\r\nsecond\r\nthird\r\n");
  EXPECT_EQ(writer.Pending(), 0u);

  // Past the limit, the rest of an entry begun in the file is not what goes.
  file.room = 2;
  writer.AppendLogEntry("begun");
  file.room = 0;
  for (std::size_t i = 0; i < EventLogWriter::kMaxPending + 3; ++i) writer.AppendLogEntry("x");
  file.room = static_cast<std::size_t>(-1);
  EXPECT_TRUE(writer.WritePending());
  EXPECT_EQ(file.contents.find("first\r\nsecond\r\nthird\r\nbegun\r\nx\r\n"), 0u);
}

TEST(BuildLogEntry, UsesTheUsersSeparatorsAndTwoDigitFields) {
  Separators s;
  s.date = "-";
  s.time = ".";
  EXPECT_EQ(BuildLogEntry("X ", LocalTime{2027, 1, 2, 3, 4, 5}, s, {"a", "b "}),
            "X 02-01-2027  03.04.05\r\n\ta\r\n\tb ");
}

}  // namespace
}  // namespace corva
