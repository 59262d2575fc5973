#include <gtest/gtest.h>

#include "monitor_settings.h"
#include "settings_rules.h"
#include "../fakes/fakes.h"

namespace corva {
namespace {

TEST(LeadingNumber, TakesTheLongestLeadingDecimalNumber) {
  EXPECT_EQ(LeadingNumber("35%"), 35.0);
  EXPECT_EQ(LeadingNumber("   12abc"), 12.0);
  EXPECT_EQ(LeadingNumber("\t-7"), -7.0);
  EXPECT_EQ(LeadingNumber("+4"), 4.0);
  EXPECT_EQ(LeadingNumber("2.5 min"), 2.5);
  EXPECT_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_EQ(LeadingNumber("3."), 3.0);
  EXPECT_EQ(LeadingNumber("10 20"), 10.0);
  EXPECT_FALSE(LeadingNumber(""));
  EXPECT_FALSE(LeadingNumber("abc"));
  EXPECT_FALSE(LeadingNumber("-"));
  EXPECT_FALSE(LeadingNumber("."));
  EXPECT_FALSE(LeadingNumber("x12"));
}

TEST(SettingNumber, RoundsHalvesToEvenAndSaturates) {
  EXPECT_EQ(SettingNumber("2.5"), 2);
  EXPECT_EQ(SettingNumber("3.5"), 4);
  EXPECT_EQ(SettingNumber("-2.5"), -2);
  EXPECT_EQ(SettingNumber("0.5"), 0);
  EXPECT_EQ(SettingNumber("1.5"), 2);
  EXPECT_EQ(SettingNumber("2.51"), 3);
  EXPECT_EQ(SettingNumber("no"), 0);
  // Beyond the 16-bit range the value saturates instead of wrapping.
  EXPECT_EQ(SettingNumber("32767"), 32767);
  EXPECT_EQ(SettingNumber("32768"), 32767);
  EXPECT_EQ(SettingNumber("99999999999999999999999"), 32767);
  EXPECT_EQ(SettingNumber("-32768"), -32768);
  EXPECT_EQ(SettingNumber("-40000"), -32768);
  EXPECT_EQ(SettingNumber(std::string(400, '9')), 32767);
  // Too small for a double is 0, not the far end of the range.
  const std::string zeros(400, '0');
  EXPECT_EQ(SettingNumber(std::string("0.").append(zeros).append("1")), 0);
  EXPECT_EQ(SettingNumber(std::string("-000.").append(zeros).append("1")), 0);
  EXPECT_EQ(SettingNumber(std::string("0").append(zeros).append("1.").append(zeros).append("1")),
            1);
}

TEST(SettingSwitchOn, OnlyANumericOneIsOn) {
  EXPECT_TRUE(SettingSwitchOn("1"));
  EXPECT_TRUE(SettingSwitchOn(" 1 "));
  EXPECT_TRUE(SettingSwitchOn("1.0"));
  EXPECT_FALSE(SettingSwitchOn("0"));
  EXPECT_FALSE(SettingSwitchOn("2"));
  EXPECT_FALSE(SettingSwitchOn("1.4"));
  EXPECT_FALSE(SettingSwitchOn("on"));  // not a number: off
  EXPECT_FALSE(SettingSwitchOn(""));
}

TEST(FrameLengthFromDataString, ReadsTheTwoCharactersAfterTheHeader) {
  EXPECT_EQ(FrameLengthFromDataString("&&&10"), 10);
  EXPECT_EQ(FrameLengthFromDataString("***9"), 9);
  EXPECT_EQ(FrameLengthFromDataString("&&&10x"), 10);
  EXPECT_EQ(FrameLengthFromDataString("&&&100"), 10);
  EXPECT_EQ(FrameLengthFromDataString("0"), 0);
  EXPECT_EQ(FrameLengthFromDataString("&&&"), 0);
  EXPECT_EQ(FrameLengthFromDataString("***x9"), 0);
}

TEST(NormalizeFolder, TrimsBlanksAndEndsWithABackslash) {
  EXPECT_EQ(NormalizeFolder("  C:\\Docs  "), "C:\\Docs\\");
  EXPECT_EQ(NormalizeFolder("C:\\Docs\\"), "C:\\Docs\\");
  EXPECT_EQ(NormalizeFolder("0"), "0\\");
  EXPECT_EQ(NormalizeFolder(""), "\\");
}

TEST(StoredSettingValue, AnEmptyValueIsWrittenAsOneBlank) {
  EXPECT_EQ(StoredSettingValue(""), " ");
  EXPECT_EQ(StoredSettingValue("0"), "0");
  EXPECT_EQ(StoredSettingValue(" x "), " x ");
}

class LoadSettingsTest : public ::testing::Test {
 protected:
  MonitorSettings Load() {
    MonitorSettings s;
    LoadSettings(s, [this](std::string_view sec, std::string_view key) { return ini.Read(sec, key); });
    return s;
  }
  fakes::FakeSettings ini;
};

TEST_F(LoadSettingsTest, MissingFileGivesZerosTextZeroAndTheLowestThreshold) {
  const MonitorSettings s = Load();
  EXPECT_EQ(s.DataString, "0");
  EXPECT_EQ(s.PathOffice, "0");
  EXPECT_EQ(s.CommPort, 0);
  EXPECT_FALSE(s.UsbMode);
  EXPECT_EQ(s.Bitacora, 0);
  EXPECT_EQ(s.ApagaQuePorcentaje, 20);
  EXPECT_FALSE(s.AlarmaConSonido);
  EXPECT_EQ(FrameLengthFromDataString(s.DataString), 0);
}

TEST_F(LoadSettingsTest, ReadsEveryKeyInTheMonitorsOrder) {
  Load();
  const std::vector<std::string> expected = {
      "Inicio/CommPort", "Inicio/DataString", "Prefs/InicioWin", "Prefs/IniciaMin",
      "Prefs/DCMaximiza", "Prefs/NotifAviso", "Prefs/NotifMaximiza", "Prefs/Bitacora",
      "Prefs/GuardaOffice", "Prefs/PathOffice", "Prefs/CierraconX", "Prefs/MostrarAOL",
      "Prefs/MostrarMute", "Prefs/MostrarTest", "Prefs/AlarmaConSonido", "Apaga/ApagaPorcentaje",
      "Apaga/ApagaQuePorcentaje", "Apaga/ApagaNormal", "Apaga/ApagaMinutos",
      "Apaga/ApagaCuantosMinutos", "Apaga/ApagaTNX", "Apaga/ApagaTNXMinutos",
      "Apaga/ApagaDesconexion", "Apaga/ApagaDesconexionSegundos"};
  EXPECT_EQ(ini.reads, expected);
}

TEST_F(LoadSettingsTest, ConvertsValues) {
  ini.Set("Inicio", "CommPort", "3");
  ini.Set("Inicio", "DataString", "&&&10");
  ini.Set("Prefs", "PathOffice", "  D:\\Guardar ");
  ini.Set("Prefs", "AlarmaConSonido", "1");
  ini.Set("Prefs", "NotifAviso", "1");
  ini.Set("Apaga", "ApagaQuePorcentaje", "35%");
  ini.Set("Apaga", "ApagaCuantosMinutos", "120");
  ini.Set("Apaga", "ApagaTNXMinutos", "5");
  ini.Set("Apaga", "ApagaDesconexionSegundos", "70000");
  const MonitorSettings s = Load();
  EXPECT_EQ(s.CommPort, 3);
  EXPECT_FALSE(s.UsbMode);
  EXPECT_EQ(s.DataString, "&&&10");
  EXPECT_EQ(s.PathOffice, "  D:\\Guardar ");  // trimmed by start-up, not here
  EXPECT_TRUE(s.AlarmaConSonido);
  EXPECT_EQ(s.NotifAviso, 1);
  EXPECT_EQ(s.ApagaQuePorcentaje, 35);
  EXPECT_EQ(s.ApagaCuantosMinutos, 120);
  EXPECT_EQ(s.ApagaTNXMinutos, 5);
  EXPECT_EQ(s.ApagaDesconexionSegundos, 32767);
}

TEST_F(LoadSettingsTest, ClampsTheBatteryThreshold) {
  ini.Set("Apaga", "ApagaQuePorcentaje", "5");
  EXPECT_EQ(Load().ApagaQuePorcentaje, 20);
  ini.Set("Apaga", "ApagaQuePorcentaje", "90");
  EXPECT_EQ(Load().ApagaQuePorcentaje, 70);
  ini.Set("Apaga", "ApagaQuePorcentaje", "-3");
  EXPECT_EQ(Load().ApagaQuePorcentaje, 20);
}

TEST_F(LoadSettingsTest, OnlyAnUpperCaseUsbSelectsTheUsbLink) {
  ini.Set("Inicio", "CommPort", "USB");
  MonitorSettings s = Load();
  EXPECT_TRUE(s.UsbMode);
  EXPECT_EQ(s.CommPort, 0);

  ini.Set("Inicio", "CommPort", "usb");
  s = Load();
  EXPECT_FALSE(s.UsbMode);
  EXPECT_EQ(s.CommPort, 0);
}

TEST_F(LoadSettingsTest, AlarmWithTextThatIsNotANumberIsOff) {
  ini.Set("Prefs", "AlarmaConSonido", "si");
  EXPECT_FALSE(Load().AlarmaConSonido);
  ini.Set("Prefs", "AlarmaConSonido", "2");
  EXPECT_FALSE(Load().AlarmaConSonido);
}

}  // namespace
}  // namespace corva

namespace corva {
namespace {

// Fault: with no documents folder to be had the folder came back empty, and start-up made "\"
// of it: documents would have been saved at the root of whatever drive was current.
TEST(SaveDirectoryFrom, IsTheDocumentsFolderWithABackslashOrTheDriveRoot) {
  EXPECT_EQ(SaveDirectoryFrom(std::string("C:\\Users\\ana\\Documents")), "C:\\Users\\ana\\Documents\\");
  EXPECT_EQ(SaveDirectoryFrom(std::string("D:\\")), "D:\\");
  EXPECT_EQ(SaveDirectoryFrom(std::nullopt), "c:\\");
  EXPECT_EQ(SaveDirectoryFrom(std::string()), "c:\\");
}

}  // namespace
}  // namespace corva
