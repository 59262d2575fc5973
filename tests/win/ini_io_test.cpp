// Corvamon.ini through the real profile functions.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "documents.h"
#include "ini_io.h"
#include "settings_rules.h"
#include "text.h"

namespace corva::win {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, dir);
    wchar_t file[MAX_PATH] = {};
    ::GetTempFileNameW(dir, L"cvi", 0, file);
    path_ = Narrow(file);
  }
  void TearDown() override { ::DeleteFileW(Widen(path_).c_str()); }

  void WriteFileBytes(const std::string& bytes) {
    std::ofstream out(Widen(path_).c_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string FileBytes() const {
    std::ifstream in(Widen(path_).c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string path_;
};

TEST_F(IniFileTest, SectionsAndKeysMatchWithoutCase) {
  WriteFileBytes("[inicio]\r\nCommport=3\r\nDATASTRING=&&&10\r\n");
  EXPECT_EQ(ReadSetting(path_, "Inicio", "CommPort"), "3");
  EXPECT_EQ(ReadSetting(path_, "INICIO", "DataString"), "&&&10");
}

TEST_F(IniFileTest, MissingFileSectionOrKeyReadsAsZero) {
  WriteFileBytes("[Prefs]\r\nBitacora=1\r\n");
  EXPECT_EQ(ReadSetting(path_, "Prefs", "Falta"), "0");
  EXPECT_EQ(ReadSetting(path_, "Apaga", "Bitacora"), "0");
  ::DeleteFileW(Widen(path_).c_str());
  EXPECT_EQ(ReadSetting(path_, "Prefs", "Bitacora"), "0");
}

TEST_F(IniFileTest, AValueLongerThanTheBufferComesBackCut) {
  WriteFileBytes("[Prefs]\r\nPathOffice=" + std::string(400, 'x') + "\r\n");
  const std::string value = ReadSetting(path_, "Prefs", "PathOffice");
  EXPECT_EQ(value, std::string(kSettingBufferSize - 1, 'x'));
}

TEST_F(IniFileTest, AnEmptyValueStillWritesTheKey) {
  WriteFileBytes("");
  // Written as one blank; the profile functions trim blanks around values, so what stays in
  // the file is the key with an empty value, which reads back as empty rather than missing.
  EXPECT_TRUE(WriteSetting(path_, "Prefs", "AlarmaConSonido", ""));
  EXPECT_NE(FileBytes().find("AlarmaConSonido="), std::string::npos) << FileBytes();
  EXPECT_EQ(ReadSetting(path_, "Prefs", "AlarmaConSonido"), "");
  EXPECT_TRUE(WriteSetting(path_, "Prefs", "AlarmaConSonido", "1"));
  EXPECT_EQ(ReadSetting(path_, "Prefs", "AlarmaConSonido"), "1");
}

TEST_F(IniFileTest, AccentedTextIsStoredInTheAnsiCodePage) {
  WriteFileBytes("");
  WriteSetting(path_, "Prefs", "PathOffice", "C:\\Año Línea");
  EXPECT_NE(FileBytes().find("C:\\A\xF1o L\xEDnea"), std::string::npos);
  EXPECT_EQ(ReadSetting(path_, "Prefs", "PathOffice"), "C:\\Año Línea");
}

// Fault: a write that failed answered true, so nobody could tell the settings were not saved.
TEST_F(IniFileTest, WritingToAFolderThatDoesNotExistSaysSo) {
  EXPECT_FALSE(WriteSetting("Z:\\no\\such\\folder\\Corvamon.ini", "Prefs", "AlarmaConSonido", "1"));
}

// Fault: the path went through the ANSI code page, so a program folder named outside it
// ("Łukasz" under 1252) became "?Łukasz": every read answered "0" and every write failed.
TEST_F(IniFileTest, AFolderNamedOutsideTheAnsiCodePageIsReadAndWrittenInAnsi) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"\u0141ukasz \u4E2D";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring file = folder + L"\\Corvamon.ini";
  ::DeleteFileW(file.c_str());
  const std::string path = Narrow(file);
  const auto bytes = [&file] {
    std::ifstream in(file.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };

  // A file that is not there yet is made in the ANSI code page.
  EXPECT_TRUE(WriteSetting(path, "Prefs", "PathOffice", "C:\\Año"));
  EXPECT_EQ(ReadSetting(path, "Prefs", "PathOffice"), "C:\\Año");
  EXPECT_NE(bytes().find("PathOffice=C:\\A\xF1o"), std::string::npos) << bytes();

  // One that is there, written by someone else in ANSI, stays so.
  {
    std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
    out << "[Inicio]\r\nDataString=&&&10\r\n[Prefs]\r\nPathOffice=D:\\Se\xF1" "al\r\n";
  }
  EXPECT_EQ(ReadSetting(path, "Inicio", "DataString"), "&&&10");
  EXPECT_EQ(ReadSetting(path, "Prefs", "PathOffice"), "D:\\Señal");
  EXPECT_TRUE(WriteSetting(path, "Prefs", "AlarmaConSonido", "1"));
  const std::string after = bytes();
  EXPECT_NE(after.find("PathOffice=D:\\Se\xF1" "al"), std::string::npos) << after;
  EXPECT_NE(after.find("AlarmaConSonido=1"), std::string::npos) << after;

  ::DeleteFileW(file.c_str());
  ::RemoveDirectoryW(folder.c_str());
}

TEST_F(IniFileTest, LoadsAWholeFileWithTheConversionRules) {
  WriteFileBytes(
      "[Inicio]\r\nCommport=USB\r\nDataString=***9\r\n"
      "[Prefs]\r\nIniciaMin=1\r\nAlarmaConSonido=si\r\nPathOffice= D:\\Docs \r\n"
      "MostrarTest=2\r\n"
      "[Apaga]\r\nApagaQuePorcentaje=35%\r\nApagaCuantosMinutos=99999\r\nApagaTNXMinutos=5\r\n");
  MonitorSettings s;
  s.SettingsPath = path_;
  LoadSettings(s);
  EXPECT_TRUE(s.UsbMode);
  EXPECT_EQ(s.CommPort, 0);
  EXPECT_EQ(FrameLengthFromDataString(s.DataString), 9);
  EXPECT_EQ(s.IniciaMin, 1);
  EXPECT_FALSE(s.AlarmaConSonido);
  EXPECT_EQ(s.PathOffice, "D:\\Docs");  // the profile functions trim blanks around values
  EXPECT_EQ(s.MostrarTest, 2);
  EXPECT_EQ(s.ApagaQuePorcentaje, 35);
  EXPECT_EQ(s.ApagaCuantosMinutos, 32767);
  EXPECT_EQ(s.ApagaTNXMinutos, 5);
  EXPECT_EQ(s.Bitacora, 0);
}

}  // namespace
}  // namespace corva::win

namespace corva::win {
namespace {

TEST(DefaultSaveDirectory, IsTheDocumentsFolderEndingInABackslash) {
  const std::string folder = DefaultSaveDirectory();
  ASSERT_GT(folder.size(), 3u);
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_NE(::GetFileAttributesW(Widen(folder).c_str()), INVALID_FILE_ATTRIBUTES) << folder;
}

}  // namespace
}  // namespace corva::win
