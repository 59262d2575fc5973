// Fuzzes the settings rules with any text in every key of Corvamon.ini: the leading-number rule
// and the text-box rule on their own, the monitor's start-up reading the file, and Corvaset
// loading the file, closing (so writing every key back) and doing it once more.
//
// Input: a flags byte, then one line per key in the monitor's reading order (a line starting
// with 0x7F leaves the key out of the file), then up to three lines typed into Corvaset's
// number boxes (minutes, UPS minutes, disconnection seconds).

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor_settings.h"
#include "principal.h"
#include "settings_form.h"
#include "settings_rules.h"
#include "../fakes/monitor_rig.h"

using namespace corva;
using namespace corva::config;

namespace {

struct Key {
  std::string_view section;
  std::string_view name;
};
constexpr std::array<Key, 25> kKeys{{
    {"Inicio", "CommPort"},          {"Inicio", "DataString"},
    {"Prefs", "InicioWin"},          {"Prefs", "IniciaMin"},
    {"Prefs", "DCMaximiza"},         {"Prefs", "NotifAviso"},
    {"Prefs", "NotifMaximiza"},      {"Prefs", "Bitacora"},
    {"Prefs", "GuardaOffice"},       {"Prefs", "PathOffice"},
    {"Prefs", "CierraconX"},         {"Prefs", "MostrarAOL"},
    {"Prefs", "MostrarMute"},        {"Prefs", "MostrarTest"},
    {"Prefs", "AlarmaConSonido"},    {"Apaga", "ApagaPorcentaje"},
    {"Apaga", "ApagaQuePorcentaje"}, {"Apaga", "ApagaNormal"},
    {"Apaga", "ApagaMinutos"},       {"Apaga", "ApagaCuantosMinutos"},
    {"Apaga", "ApagaTNX"},           {"Apaga", "ApagaTNXMinutos"},
    {"Apaga", "ApagaDesconexion"},   {"Apaga", "ApagaDesconexionSegundos"},
    {"Apaga", "Hibernar"},
}};

// The harness's own helpers carry no coverage: their branches are not the code under test, and
// tracing them would only slow every run down.
#define HARNESS __attribute__((no_sanitize("coverage")))

HARNESS bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

HARNESS std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

HARNESS char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

HARNESS bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Where a key stands in kKeys, its name matched without regard to case ("Commport" is CommPort).
HARNESS std::size_t KeyIndex(std::string_view key) {
  for (std::size_t i = 0; i < kKeys.size(); ++i) {
    if (kKeys[i].name.size() == key.size() && SameName(kKeys[i].name, key)) return i;
  }
  std::abort();  // a key the file does not have
}

// A profile file as the system's profile functions see it: names without regard to case, a value
// read back without the blanks around it and cut to the 250-character buffer the programs pass.
class Profile : public SettingsStore {
 public:
  std::string Read(std::string_view, std::string_view key) override { return Read(key); }
  bool Write(std::string_view, std::string_view key, std::string_view value) override {
    return Write(key, value);
  }
  HARNESS std::string Read(std::string_view key) const {
    const auto& value = raw[KeyIndex(key)];
    if (!value) return ini::kMissingValue;
    return Trim(*value).substr(0, 249);
  }
  HARNESS bool Write(std::string_view key, std::string_view value) {
    raw[KeyIndex(key)] = StoredSettingValue(value);
    return true;
  }
  std::array<std::optional<std::string>, kKeys.size()> raw;
};

// The leading number's shape, read independently of the rules under test.
struct Shape {
  bool number = false;
  bool negative = false;
  std::string integer;  // the integer digits, leading zeros dropped
  std::size_t end = 0;  // one past the number
};
HARNESS Shape ShapeOf(std::string_view t) {
  Shape s;
  std::size_t i = 0;
  while (i < t.size() && IsBlank(t[i])) ++i;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) s.negative = t[i++] == '-';
  std::size_t digits = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++digits) {
    if (!s.integer.empty() || t[i] != '0') s.integer.push_back(t[i]);
  }
  std::size_t j = i;
  if (j < t.size() && t[j] == '.') {
    std::size_t fraction = 0;
    for (++j; j < t.size() && t[j] >= '0' && t[j] <= '9'; ++j) ++fraction;
    if (digits + fraction > 0) {
      digits += fraction;
      i = j;
    }
  }
  s.number = digits > 0;
  s.end = i;
  return s;
}

// The leading-number rule, the switch rule and the text-box rule on one text.
void CheckNumberRules(std::string_view t) {
  const std::optional<double> v = LeadingNumber(t);
  const Shape shape = ShapeOf(t);
  if (shape.number != v.has_value()) std::abort();
  const std::int16_t n = SettingNumber(t);
  if (!v) {
    if (n != 0 || SettingSwitchOn(t)) std::abort();
  } else {
    const double value = *v;
    if (std::isnan(value)) std::abort();
    if (shape.negative ? value > 0 : value < 0) std::abort();
    const double magnitude = std::fabs(value);
    // The magnitude lies between the integer part and the next integer.
    if (shape.integer.empty()) {
      if (magnitude > 1) std::abort();
    } else if (shape.integer.size() <= 15) {
      const double whole = std::stod(shape.integer);
      if (magnitude < whole || magnitude > whole + 1) std::abort();
    } else if (magnitude < 1e15) {
      std::abort();
    }
    // Rounded to the nearest integer, or saturated at the 16-bit ends.
    if (value >= 32767) {
      if (n != 32767) std::abort();
    } else if (value <= -32768) {
      if (n != -32768) std::abort();
    } else if (std::fabs(n - value) > 0.5) {
      std::abort();
    }
    if (SettingSwitchOn(t) && n != 1) std::abort();
  }
  // A number box takes a text that is one number in the 16-bit range, and reads it as the file
  // would; anything else it leaves alone.
  const std::optional<std::int16_t> box = TextBoxNumber(t);
  const std::string whole = Trim(t);
  const Shape whole_shape = ShapeOf(whole);
  const bool in_range = v && std::nearbyint(*v) >= -32768 && std::nearbyint(*v) <= 32767;
  if (whole_shape.number && whole_shape.end == whole.size() && in_range) {
    if (!box || *box != n) std::abort();
  } else if (box) {
    std::abort();
  }
}

// What Corvaset writes for a number: the 16-bit value in decimal, read back unchanged.
void CheckNumberRoundTrip(std::int16_t n) {
  const std::string text = std::to_string(n);
  if (SettingNumber(text) != n || SettingNumber(" " + text + "%") != n) std::abort();
  if (TextBoxNumber(text) != n || TextBoxNumber("\t" + text + " ") != n) std::abort();
}

class FuzzFormView : public FormView {
 public:
  void ShowConnection(Connection) override {}
  void SetPortLabel(std::string_view) override {}
  void SetControls(const FormControls& c) override { controls = c; }
  FormControls Controls() const override { return controls; }
  bool ConfirmSearch() override { return true; }
  void ShowSearchFailed() override {}
  void DoEvents() override {}
  bool AskRetrySave(std::string_view) override { return false; }
  FormControls controls;
};

struct Corvaset {
  Corvaset(Profile& file, bool usb, bool locator_finds)
      : form(FormPorts{view, [&file](std::string_view, std::string_view k) { return file.Read(k); },
                       [&file](std::string_view, std::string_view k, std::string_view v) {
                         return WriteResult{file.Write(k, v), {}};
                       },
                       [usb](std::string_view) { return usb; },
                       [locator_finds] {
                         return locator_finds ? LocatorResult{3, "&&&10"} : LocatorResult{};
                       },
                       [] { return std::string("C:\\Docs\\"); }, [](bool) {}}) {}
  FuzzFormView view;
  SettingsForm form;
};

std::string Num(std::int16_t n) {
  return std::to_string(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool usb = (data[0] & 1) != 0;
  const bool locator_finds = (data[0] & 2) != 0;
  if (size >= 3) CheckNumberRoundTrip(static_cast<std::int16_t>(data[1] | (data[2] << 8)));

  // The lines: one per key, then the typed boxes.
  std::vector<std::string_view> lines;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  for (std::size_t b = 0; b <= rest.size();) {
    std::size_t e = rest.find('\n', b);
    if (e == std::string_view::npos) e = rest.size();
    lines.push_back(rest.substr(b, e - b));
    b = e + 1;
  }
  Profile file;
  for (std::size_t i = 0; i < kKeys.size() && i < lines.size(); ++i) {
    std::string_view value = lines[i];
    // A line of the file ends at a carriage return; the profile functions stop at a NUL.
    value = value.substr(0, value.find_first_of(std::string_view("\r\0", 2)));
    if (!lines[i].empty() && lines[i][0] == '\x7F') continue;
    file.raw[i] = std::string(value);
  }
  for (const std::string_view line : lines) CheckNumberRules(line);

  // What each key reads as.
  std::array<std::string, kKeys.size()> values;
  for (std::size_t i = 0; i < kKeys.size(); ++i) values[i] = file.Read(kKeys[i].name);
  const auto read = [&values](std::string_view key) -> const std::string& {
    return values[KeyIndex(key)];
  };

  // The monitor's start-up.
  {
    fakes::MonitorRig rig;
    rig.usb.present = usb;
    Profile monitor_file = file;  // the monitor reads the file as it is
    Principal principal{PrincipalPorts{rig.view, monitor_file, rig.MSComm1, rig.MSComm2, rig.usb,
                                       rig.tray, rig.log, rig.platform, rig.shutdown, rig.office,
                                       [] { return std::string("C:\\Docs\\"); }}};
    principal.Load("C:\\Corvamon");
    const MonitorSettings& s = principal.Settings();
    if (s.ApagaQuePorcentaje < kMinShutdownPercent || s.ApagaQuePorcentaje > kMaxShutdownPercent) {
      std::abort();
    }
    if (s.PathOffice.empty() || s.PathOffice.back() != '\\' || s.PathOffice.front() == ' ') {
      std::abort();
    }
    if (s.FrameLength != FrameLengthFromDataString(s.DataString) || s.FrameLength < -9 ||
        s.FrameLength > 99) {
      std::abort();
    }
    if (s.AlarmaConSonido != SettingSwitchOn(read("AlarmaConSonido"))) std::abort();
    if (s.Hibernar != (read("Hibernar") == "1")) std::abort();  // exactly "1", nothing else
    for (const int port : rig.MSComm1.opened) {
      if (port < 1 || port > protocol::kHighestSerialPort) std::abort();
    }
  }

  // Corvaset: open, type into the number boxes, close.
  const Profile before = file;
  std::array<std::optional<std::string>, 3> typed;
  {
    Corvaset corvaset(file, usb, locator_finds);
    corvaset.form.Load("C:\\Corvamon\\Corvamon.ini");
    FormControls& c = corvaset.view.controls;
    std::string* boxes[] = {&c.txtminutosapagado, &c.txtminutosapagadoTNX, &c.txtApagaDesconexion};
    for (std::size_t i = 0; i < typed.size() && kKeys.size() + i < lines.size(); ++i) {
      typed[i] = std::string(lines[kKeys.size() + i]);
      *boxes[i] = *typed[i];
    }
    corvaset.form.SaveSettings();
  }
  const auto written = [&file](const char*, const char* key) { return file.Read(key); };
  const auto number = [&read](const char* key) { return SettingNumber(read(key)); };

  // The port: as read, or what the search found when none was known.
  std::string port;
  if (read("CommPort") == ini::kUsbPort) {
    port = ini::kUsbPort;
  } else if (number("CommPort") != 0) {
    port = Num(number("CommPort"));
  } else {
    port = usb ? ini::kUsbPort : locator_finds ? "3" : "0";
  }
  if (written("Inicio", "CommPort") != port) std::abort();
  const bool located = port == "3" && number("CommPort") == 0;
  if (written("Inicio", "DataString") != (located ? "&&&10" : Trim(read("DataString")))) {
    std::abort();
  }
  // Every switch of pages 0 and 1 keeps its value, also those no check box can show.
  for (const auto& [check, key] : kCheckKeys) {
    if (written("Prefs", key) != Num(number(key))) std::abort();
  }
  // The folder goes back as it was read; a value cut to the buffer may end in blanks, which the
  // profile functions drop when it is read again.
  const std::string path = read("PathOffice");
  if (written("Prefs", "PathOffice") != (path.empty() || path == "0" ? "C:\\Docs\\" : Trim(path))) {
    std::abort();
  }
  if (file.raw[KeyIndex("AlarmaConSonido")] != before.raw[KeyIndex("AlarmaConSonido")]) {
    std::abort();
  }
  // One way of shutting down at most: the last one set among battery, minutes and normal.
  const char* option = number("ApagaNormal")       ? "ApagaNormal"
                       : number("ApagaMinutos")    ? "ApagaMinutos"
                       : number("ApagaPorcentaje") ? "ApagaPorcentaje"
                                                   : nullptr;
  for (const char* key : {"ApagaPorcentaje", "ApagaMinutos", "ApagaNormal"}) {
    const bool chosen = option && std::string_view(option) == key;
    if (written("Apaga", key) != (chosen ? "1" : "0")) std::abort();
  }
  // The threshold is one of the list's items, the nearest to the value read.
  const std::int16_t percent = SettingNumber(written("Apaga", "ApagaQuePorcentaje"));
  const int clamped = std::clamp<int>(number("ApagaQuePorcentaje"), 20, 70);
  if (percent % 10 != 0 || percent < 20 || percent > 70 || std::abs(percent - clamped) > 5) {
    std::abort();
  }
  if (written("Apaga", "ApagaTNX") != (number("ApagaTNX") ? "1" : "0") ||
      written("Apaga", "ApagaDesconexion") != (number("ApagaDesconexion") ? "1" : "0")) {
    std::abort();
  }
  // A number box writes what it holds when that is a 16-bit number, else the value read.
  const char* box_keys[] = {"ApagaCuantosMinutos", "ApagaTNXMinutos", "ApagaDesconexionSegundos"};
  for (std::size_t i = 0; i < typed.size(); ++i) {
    std::int16_t expected = number(box_keys[i]);
    if (typed[i]) expected = TextBoxNumber(*typed[i]).value_or(expected);
    if (written("Apaga", box_keys[i]) != Num(expected)) std::abort();
  }

  // Opening and closing Corvaset once more changes nothing: what it wrote reads back the same.
  Profile again = file;
  {
    Corvaset corvaset(again, usb, locator_finds);
    corvaset.form.Load("C:\\Corvamon\\Corvamon.ini");
    corvaset.form.SaveSettings();
  }
  for (const Key& k : kKeys) {
    if (again.Read(k.name) != file.Read(k.name)) std::abort();
  }
  return 0;
}
