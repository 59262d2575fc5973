#pragma once
// Fakes of the monitor's ports, shared by the native tests.

#include <algorithm>
#include <deque>
#include <optional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ports.h"
#include "protocol.h"
#include "serial_port.h"

namespace corva::fakes {

class FakeView : public MainView {
 public:
  void SetText(Control c, std::string_view t) override { texts[c] = std::string(t); }
  void SetVisible(Control c, bool v) override {
    if (v) hidden.erase(c); else hidden.insert(c);
  }
  void EnableTimer(Timer t, bool e) override {
    if (e) timers.insert(t); else timers.erase(t);
  }
  bool TimerEnabled(Timer t) const override { return timers.count(t) != 0; }
  void SetMutePictures(bool on) override { mute_pictures.push_back(on); }
  void SetLinkPicture(LinkPicture p) override { link = p; }
  void SetGauge(int member) override { gauge = member; }
  bool IsVisible(Control c) const override { return !Hidden(c); }
  void BringWindowToFront() override {
    ++fronts;
    events.push_back("front");
  }
  void ShowMessage(std::string_view t, std::string_view title) override {
    messages.push_back(std::string(title) + "|" + std::string(t));
    events.push_back("message");
  }
  void DoEvents() override { ++do_events; }
  void Pause(int ms) override {
    pauses.push_back(ms);
    events.push_back("pause " + std::to_string(ms));
  }
  bool WaitWhile(const std::function<bool()>& busy, int) override {
    for (int i = 0; i < 100; ++i) {
      if (!busy()) return true;
      if (on_wait) on_wait();
    }
    return !busy();
  }
  void Restore() override { ++restores; visible = true; }
  void HideToTray() override { ++hides; visible = false; }
  void Minimize() override { ++minimizes; }
  void Unload() override { ++unloads; }

  std::string Text(Control c) const {
    auto it = texts.find(c);
    return it == texts.end() ? std::string() : it->second;
  }
  bool Hidden(Control c) const { return hidden.count(c) != 0; }

  std::map<Control, std::string> texts;
  std::set<Control> hidden;
  std::set<Timer> timers;
  std::vector<bool> mute_pictures;
  std::optional<LinkPicture> link;
  std::optional<int> gauge;
  int fronts = 0;
  std::vector<std::string> messages;
  std::vector<std::string> events;
  std::vector<int> pauses;
  std::function<void()> on_wait;
  int do_events = 0, restores = 0, hides = 0, minimizes = 0, unloads = 0;
  bool visible = false;
};

class FakeSettings : public SettingsStore {
 public:
  std::string Read(std::string_view section, std::string_view key) override {
    reads.push_back(std::string(section) + "/" + std::string(key));
    auto it = values.find(Key(section, key));
    return it == values.end() ? std::string("0") : it->second;
  }
  bool Write(std::string_view section, std::string_view key, std::string_view value) override {
    values[Key(section, key)] = value.empty() ? std::string(" ") : std::string(value);
    writes.push_back(std::string(section) + "/" + std::string(key) + "=" + std::string(value));
    return true;
  }
  void Set(std::string_view section, std::string_view key, std::string value) {
    values[Key(section, key)] = std::move(value);
  }
  static std::string Key(std::string_view s, std::string_view k) {
    std::string r = std::string(s) + "/" + std::string(k);
    std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return std::tolower(c); });
    return r;
  }
  std::map<std::string, std::string> values;
  std::vector<std::string> reads, writes;
};

class FakeSerialPort : public SerialPort {
 public:
  void SetCommPort(int p) override { port = p; }
  int CommPort() const override { return port; }
  bool SetSettings(std::string_view s) override {
    if (!ParseSerialSettings(s)) return false;
    settings = std::string(s);
    return true;
  }
  std::string Settings() const override { return settings; }
  void SetInputLen(int v) override { input_len = v; }
  void SetInputMode(int v) override { input_mode = v; }
  void SetOutBufferSize(int v) override { out_buffer_size = v; }
  void SetSThreshold(int v) override { sthreshold = v; }
  void SetRThreshold(int v) override { rthreshold = v; }
  int RThreshold() const override { return rthreshold; }
  bool SetPortOpen(bool o) override {
    if (o && !can_open) return open = false;
    open = o;
    log.push_back(o ? "open" : "close");
    return open;
  }
  bool PortOpen() const override { return open; }
  int InBufferCount() const override { return static_cast<int>(waiting.size()); }
  std::vector<std::uint8_t> Input() override {
    std::vector<std::uint8_t> all(waiting.begin(), waiting.end());
    waiting.clear();
    ++inputs;
    return all;
  }
  bool Output(std::span<const std::uint8_t> bytes) override {
    if (!open || fail_output) return false;
    for (auto b : bytes) {
      sent.push_back(b);
      log.push_back("byte " + std::to_string(b));
    }
    out_pending = stuck_output ? 1 : 0;
    return true;
  }
  int OutBufferCount() const override { return out_pending; }
  int CommEvent() const override { return event; }

  // The device sends bytes; raises the receive event as a port does when enough wait.
  void Arrive(std::vector<std::uint8_t> bytes) {
    waiting.insert(waiting.end(), bytes.begin(), bytes.end());
    if (rthreshold > 0 && static_cast<int>(waiting.size()) >= rthreshold) Raise(protocol::kCommEventReceive);
  }
  void Raise(int e) {
    event = e;
    RaiseOnComm();
  }

  int port = 0, input_len = -1, input_mode = -1, out_buffer_size = -1, sthreshold = 0,
      rthreshold = 0, event = 0, out_pending = 0, inputs = 0;
  std::string settings;
  bool open = false, can_open = true, fail_output = false, stuck_output = false;
  std::deque<std::uint8_t> waiting;
  std::vector<std::uint8_t> sent;
  std::vector<std::string> log;
};

class FakeUsb : public UsbLink {
 public:
  bool FindUsbDevice(std::string_view product) override {
    searches.push_back(std::string(product));
    return present;
  }
  bool WriteUsbReport(std::span<const std::uint8_t> payload) override {
    reports.emplace_back(payload.begin(), payload.end());
    return present;
  }
  void Close() override { ++closes; }
  bool present = false;
  std::vector<std::string> searches;
  std::vector<std::vector<std::uint8_t>> reports;
  int closes = 0;
};

class FakeTray : public ShellTray {
 public:
  int AddTrayIcon(std::string_view tip) override {
    tips.push_back(std::string(tip));
    return result;
  }
  int ModifyTrayIcon(int picture, std::string_view tip) override {
    modified.emplace_back(picture, std::string(tip));
    return 1;
  }
  int DeleteTrayIcon() override {
    log.push_back("delete");
    return 1;
  }
  void ShowTrayBalloon(int kind, std::string_view title, std::string_view text) override {
    balloons.push_back(std::to_string(kind) + "|" + std::string(title) + "|" + std::string(text));
  }
  std::vector<std::pair<int, std::string>> modified;
  std::vector<std::string> balloons;
  void HookMainWindow() override { log.push_back("hook"); }
  void UnhookMainWindow() override { log.push_back("unhook"); }
  int result = 1;
  std::vector<std::string> tips, log;
};

class FakeLogFile : public LogFile {
 public:
  bool Append(std::string_view text) override {
    ++appends;
    if (locked) return false;
    contents += text;
    return true;
  }
  std::string contents;
  bool locked = false;
  int appends = 0;
};

class FakePlatform : public Platform {
 public:
  LocalTime Now() const override { return now; }
  Separators UserSeparators() const override { return separators; }
  LocalTime now{2026, 3, 6, 14, 5, 9};
  Separators separators;
};

}  // namespace corva::fakes
