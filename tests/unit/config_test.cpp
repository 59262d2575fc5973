// Corvaset's logic: the COM-port locator, and the settings loaded into the controls and written
// back on close. The port, the window and the settings file are fakes.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "../fakes/fakes.h"
#include "locator.h"
#include "settings_form.h"

namespace corva::config {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kAmpFrame{'&', '&', '&', 56, 120, 200, 65, 92, '0', '0'};

class FakeLocatorView : public LocatorView {
 public:
  void SetLabel1(std::string_view t) override { label1 = t; }
  void SetLabel2(std::string_view t) override { label2 = t; }
  void EnableTimer1(bool e) override { timer1 = e; }
  void Close() override { closed = true; }
  void DoEvents() override {
    if (on_events) on_events();
  }
  std::string label1 = "Buscando en COM", label2 = "1";
  bool timer1 = false, closed = false;
  std::function<void()> on_events;
};

class LocatorTest : public ::testing::Test {
 protected:
  void Ports(std::set<int> present, std::set<int> opening) {
    present_ = std::move(present);
    Pto.port_opens = [opening](int p) { return opening.count(p) != 0; };
  }
  FakeLocatorView view;
  fakes::FakeSerialPort Pto;
  std::set<int> present_;
  Locator locator{Pto, view, [this](int p) { return present_.count(p) != 0; }};
};

TEST_F(LocatorTest, LooksOnlyAtMoreThanEightBytesAndPrefersTheStarMarker) {
  Ports({1, 2}, {1, 2});
  locator.Form_Load();
  ASSERT_EQ(locator.currentPort, 1);
  EXPECT_EQ(Pto.settings, "9600,N,8,1");
  EXPECT_EQ(Pto.rthreshold, 5);
  Pto.Arrive({'x', '&', '&', '&', 1, 2, 3, 4});  // eight: not looked at, left waiting
  EXPECT_EQ(locator.FoundPort, 0);
  EXPECT_EQ(Pto.InBufferCount(), 8);
  view.label2.clear();          // so that only the find can put the port there
  Pto.Arrive({'*', '*', '*'});  // eleven: all of them are looked at, both markers there
  EXPECT_EQ(locator.FoundPort, 1);
  EXPECT_EQ(locator.DataString, "***9");
  EXPECT_EQ(view.label1, "Localizado en COM");
  EXPECT_EQ(view.label2, "1");
  EXPECT_FALSE(Pto.open);
  EXPECT_TRUE(view.timer1);
  locator.Timer1_Timer();
  EXPECT_TRUE(view.closed);
  EXPECT_TRUE(Pto.sent.empty());  // the locator never writes to a port
}

TEST_F(LocatorTest, SkipsAbsentPortsAndListensOnTheUpsPortFromTheStart) {
  Ports({5}, {5});
  locator.Form_Load();
  EXPECT_EQ(locator.lastPort, 5);
  EXPECT_EQ(Pto.opened, std::vector<int>{5});
  Pto.Arrive(kAmpFrame);
  EXPECT_EQ(locator.FoundPort, 5);
  EXPECT_EQ(locator.DataString, "&&&10");
}

TEST_F(LocatorTest, MovesOnAPortPerTickFromTheFirstPortNotFromTheOneOpen) {
  // COM1 and COM2 taken by other programs, COM3 silent, COM4 the UPS.
  Ports({1, 2, 3, 4}, {3, 4});
  locator.Form_Load();
  Pto.Arrive({'n', 'o', 'i', 's', 'e', ' ', 'o', 'n', 'l', 'y'});  // no marker: stays open
  EXPECT_TRUE(Pto.open);
  for (int tick = 0; tick < 3; ++tick) locator.Timer2_Timer();
  EXPECT_EQ(Pto.opened, (std::vector<int>{3, 3, 3, 4}));
  EXPECT_EQ(locator.firstPort, 4);
  Pto.Arrive(kAmpFrame);
  EXPECT_EQ(locator.FoundPort, 4);
}

TEST_F(LocatorTest, ATickWhileTheFindIsReportedChangesNothing) {
  Ports({1, 2, 3}, {1, 2, 3});
  locator.Form_Load();
  view.on_events = [this] { locator.Timer2_Timer(); };
  Pto.Arrive(kAmpFrame);
  EXPECT_EQ(locator.FoundPort, 1);
  EXPECT_EQ(locator.currentPort, 1);
  EXPECT_EQ(locator.DataString, "&&&10");
  view.on_events = nullptr;
  locator.Timer2_Timer();  // ticks go on until Timer1 closes the window
  EXPECT_EQ(locator.FoundPort, 1);
  EXPECT_EQ(Pto.opened, std::vector<int>{1});
}

TEST_F(LocatorTest, WithNoPortAtAllTheScanEndsUnfound) {
  Ports({}, {});
  locator.Form_Load();
  EXPECT_EQ(locator.lastPort, 1);
  EXPECT_FALSE(view.timer1);
  locator.Timer2_Timer();
  EXPECT_TRUE(locator.scanDone);
  EXPECT_EQ(locator.FoundPort, 0);
  EXPECT_TRUE(view.timer1);
  EXPECT_TRUE(Pto.opened.empty());
}

// ---- the configuration window

class FakeFormView : public FormView {
 public:
  void ShowConnection(Connection c) override { connections.push_back(c); }
  void SetPortLabel(std::string_view t) override { port_label = t; }
  void SetControls(const FormControls& c) override { controls = c; }
  FormControls Controls() const override { return controls; }
  bool ConfirmSearch() override { return confirm; }
  void ShowSearchFailed() override { ++failures; }
  void DoEvents() override {}
  bool AskRetrySave(std::string_view text) override {
    save_boxes.emplace_back(text);
    return on_save_box ? on_save_box() : false;
  }
  std::vector<std::string> save_boxes;
  std::function<bool()> on_save_box;
  std::vector<Connection> connections;
  std::string port_label;
  FormControls controls;
  bool confirm = true;
  int failures = 0;
};

class SettingsFormTest : public ::testing::Test {
 protected:
  FormPorts Ports() {
    return FormPorts{view,
                     [this](std::string_view s, std::string_view k) { return ini.Read(s, k); },
                     [this](std::string_view s, std::string_view k, std::string_view v) {
                       writes.push_back(std::string(k) + "=" + std::string(v));
                       if (read_only) return WriteResult{false, "Acceso denegado."};
                       return WriteResult{ini.Write(s, k, v), ""};
                     },
                     [this](std::string_view) {
                       ++usb_searches;
                       return usb_present;
                     },
                     [this] {
                       ++locator_runs;
                       return found;
                     },
                     [] { return std::string("C:\\Users\\ana\\Documents\\"); },
                     [this](bool create) { shortcut.push_back(create); }};
  }
  std::string Written(const std::string& key) const {
    for (const auto& w : writes) {
      if (w.rfind(key + "=", 0) == 0) return w.substr(key.size() + 1);
    }
    return "(not written)";
  }

  FakeFormView view;
  fakes::FakeSettings ini;
  std::vector<std::string> writes;
  std::vector<bool> shortcut;
  bool usb_present = false, read_only = false;
  int usb_searches = 0, locator_runs = 0;
  LocatorResult found;
  SettingsForm form{Ports()};
};

TEST_F(SettingsFormTest, ControlsShowTheSettingsAndCloseWritesThemBackInOrder) {
  ini.Set("Inicio", "CommPort", "3");
  ini.Set("Inicio", "DataString", "&&&10");
  ini.Set("Prefs", "InicioWin", "2");  // greyed
  ini.Set("Prefs", "Bitacora", "7");   // no check-box state: shown greyed, kept
  ini.Set("Prefs", "NotifAviso", "1");
  ini.Set("Prefs", "PathOffice", "0");
  ini.Set("Apaga", "ApagaPorcentaje", "1");
  ini.Set("Apaga", "ApagaMinutos", "1");
  ini.Set("Apaga", "ApagaNormal", "1");
  ini.Set("Apaga", "ApagaQuePorcentaje", "45");
  ini.Set("Apaga", "ApagaCuantosMinutos", "300");
  ini.Set("Apaga", "ApagaTNXMinutos", "5");
  ini.Set("Apaga", "ApagaDesconexionSegundos", "120");
  form.Load("C:\\Corvamon\\Corvamon.ini");

  // A configured port is shown at once, with no search and no probe.
  EXPECT_EQ(view.connections, std::vector<Connection>{Connection::ComPort});
  EXPECT_EQ(view.port_label, "3");
  EXPECT_EQ(usb_searches + locator_runs, 0);
  FormControls& c = view.controls;
  EXPECT_EQ(c[Check::chkejecutainicio], kGreyed);
  EXPECT_EQ(c[Check::chkbitacora], kGreyed);
  EXPECT_EQ(c[Check::chknotif], kChecked);
  EXPECT_EQ(c.txtPathOffice, "C:\\Users\\ana\\Documents\\");
  EXPECT_EQ(c.option, ShutdownOption::chknormal);  // the last one set wins
  EXPECT_EQ(c.cmbpct_text, "40%");                 // 2.5 rounds to 2
  EXPECT_EQ(c.txtminutosapagado, "300");

  // The user types into the boxes: no number, a number past 16 bits, negative, any size.
  c.txtminutosapagado = "abc";
  c.txtminutosapagadoTNX = "40000";
  c.txtApagaDesconexion = " -5 ";
  c.txtPathOffice = "";
  form.SaveSettings();
  EXPECT_EQ(writes, (std::vector<std::string>{"Commport=3",
                                              "DataString=&&&10",
                                              "InicioWin=2",
                                              "IniciaMin=0",
                                              "DCMaximiza=0",
                                              "NotifAviso=1",
                                              "NotifMaximiza=0",
                                              "Bitacora=7",
                                              "CierraconX=0",
                                              "GuardaOffice=0",
                                              "PathOffice=",
                                              "MostrarAOL=0",
                                              "MostrarMute=0",
                                              "MostrarTest=0",
                                              "ApagaPorcentaje=0",
                                              "ApagaQuePorcentaje=40",
                                              "ApagaNormal=1",
                                              "ApagaMinutos=0",
                                              "ApagaCuantosMinutos=300",
                                              "ApagaTNX=0",
                                              "ApagaTNXMinutos=5",
                                              "ApagaDesconexion=0",
                                              "ApagaDesconexionSegundos=-5"}));
  // An emptied box is handed over empty, neither skipped nor refilled with the default folder
  // (the writer stores it as a single blank: win.settings_file).
  EXPECT_EQ(ini.Read("Prefs", "PathOffice"), "");
  EXPECT_EQ(shortcut, std::vector<bool>{false});  // greyed is not checked: no shortcut
}

TEST_F(SettingsFormTest, PercentHalvesRoundToEvenAndNoOptionStaysNone) {
  ini.Set("Apaga", "ApagaQuePorcentaje", "55");
  ini.Set("Inicio", "CommPort", "USB");
  form.Load("C:\\Corvamon\\Corvamon.ini");
  EXPECT_EQ(view.controls.cmbpct_text, "60%");  // 3.5 rounds to 4
  EXPECT_EQ(view.controls.option, ShutdownOption::None);
  // USB with no device: not connected, and the locator is not started.
  EXPECT_EQ(view.connections, std::vector<Connection>{Connection::NotConnected});
  EXPECT_EQ(locator_runs, 0);
  view.controls[Check::chkejecutainicio] = kChecked;
  form.SaveSettings();
  EXPECT_EQ(Written("Commport"), "USB");
  EXPECT_EQ(Written("ApagaQuePorcentaje"), "60");
  EXPECT_EQ(Written("ApagaPorcentaje") + Written("ApagaMinutos") + Written("ApagaNormal"), "000");
  EXPECT_EQ(shortcut, std::vector<bool>{true});
}

TEST_F(SettingsFormTest, WithNoPortTheLocatorRunsAndItsFindIsWrittenOnClose) {
  found = LocatorResult{3, "***9"};
  form.Load("C:\\Corvamon\\Corvamon.ini");
  EXPECT_EQ(usb_searches, 1);
  EXPECT_EQ(locator_runs, 1);
  EXPECT_EQ(view.connections,
            (std::vector<Connection>{Connection::NotConnected, Connection::ComPort}));
  EXPECT_EQ(view.port_label, "3");
  form.SaveSettings();
  EXPECT_EQ(Written("Commport"), "3");
  EXPECT_EQ(Written("DataString"), "***9");

  // A search that finds nothing says so, and the port is forgotten.
  found = LocatorResult{};
  form.cmdBuscaTNX_Click();
  EXPECT_EQ(view.failures, 1);
  EXPECT_EQ(view.connections.back(), Connection::NotConnected);
  EXPECT_EQ(view.port_label, "");
  writes.clear();
  form.SaveSettings();
  EXPECT_EQ(Written("Commport"), "0");

  // Cancelled at the question: nothing happens.
  view.confirm = false;
  form.cmdBuscaTNX_Click();
  EXPECT_EQ(locator_runs, 2);
}

// Fault: a write that failed was dropped, and closing threw every change away without a word.
TEST_F(SettingsFormTest, AFailedSaveAsksAndTriesEveryKeyAgainOrClosesWithoutSaving) {
  ini.Set("Inicio", "CommPort", "3");
  form.Load("C:\\Corvamon\\Corvamon.ini");
  const std::size_t keys = 23;
  read_only = true;
  int asked = 0;
  view.on_save_box = [&] {
    ++asked;
    if (asked == 2) read_only = false;  // the user made the file writable
    return true;                        // Reintentar
  };
  EXPECT_TRUE(form.SaveSettings());
  ASSERT_EQ(view.save_boxes.size(), 2u);
  EXPECT_NE(view.save_boxes[0].find("C:\\Corvamon\\Corvamon.ini"), std::string::npos);
  EXPECT_NE(view.save_boxes[0].find("Acceso denegado."), std::string::npos);
  EXPECT_EQ(writes.size(), 3 * keys);  // every key, in every pass
  EXPECT_EQ(ini.Read("Inicio", "Commport"), "3");
  EXPECT_EQ(shortcut.size(), 1u);

  // Cancelar: one box, and the close goes on without the settings.
  writes.clear();
  view.save_boxes.clear();
  read_only = true;
  view.on_save_box = [] { return false; };
  EXPECT_FALSE(form.SaveSettings());
  EXPECT_EQ(view.save_boxes.size(), 1u);
  EXPECT_EQ(writes.size(), keys);
  EXPECT_EQ(shortcut.size(), 2u);  // the start-up link is a step of its own
}

TEST_F(SettingsFormTest, AUsbDeviceIsTakenBeforeAnyComPort) {
  usb_present = true;
  EXPECT_EQ(form.DetectUps(), 1);
  EXPECT_TRUE(form.Settings.UsbMode);
  EXPECT_EQ(locator_runs, 0);
}

TEST(TextBoxNumber, TakesWholeDecimalNumbersWithinSixteenBits) {
  EXPECT_EQ(TextBoxNumber(" 12 "), 12);
  EXPECT_EQ(TextBoxNumber("2.5"), 2);
  EXPECT_EQ(TextBoxNumber("3.5"), 4);
  EXPECT_EQ(TextBoxNumber("-32768"), -32768);
  EXPECT_EQ(TextBoxNumber("32768"), std::nullopt);
  EXPECT_EQ(TextBoxNumber("12abc"), std::nullopt);
  EXPECT_EQ(TextBoxNumber(""), std::nullopt);
  EXPECT_EQ(TextBoxNumber("-"), std::nullopt);
  // However long the text, a number is a number: zeros in front, or a tail too small to count.
  EXPECT_EQ(TextBoxNumber(std::string(70, '0') + "12"), 12);
  EXPECT_EQ(TextBoxNumber("7." + std::string(400, '0') + "1"), 7);
  EXPECT_EQ(TextBoxNumber("0." + std::string(400, '0') + "1"), 0);
}

}  // namespace
}  // namespace corva::config
