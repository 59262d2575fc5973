#pragma once
// Fakes of the monitor's ports, shared by the native tests.

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fake_hid.h"
#include "ports.h"
#include "protocol.h"
#include "reboot.h"
#include "serial_port.h"

namespace corva::fakes {

class FakeView : public MainView {
 public:
  void SetText(Control c, std::string_view t) override {
    texts[c] = std::string(t);
    if (c == Control::lblmsg) messages_shown.emplace_back(t);
  }
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
    if (on_pause) on_pause();
  }
  bool WaitWhile(const std::function<bool()>& busy, int timeout_ms) override {
    wait_timeouts.push_back(timeout_ms);
    for (int i = 0; i < 100; ++i) {
      if (!busy()) return true;
      if (on_wait) on_wait();
    }
    return !busy();
  }
  void Restore() override { ++restores; visible = true; }
  void HideToTray() override { ++hides; visible = false; }
  void Minimize() override { ++minimizes; }
  void Unload() override {
    ++unloads;
    if (on_unload) on_unload();
  }

  std::string Text(Control c) const {
    auto it = texts.find(c);
    return it == texts.end() ? std::string() : it->second;
  }
  bool Hidden(Control c) const { return hidden.count(c) != 0; }

  std::map<Control, std::string> texts;
  std::vector<std::string> messages_shown;  // every lblmsg text, in order
  std::set<Control> hidden;
  std::set<Timer> timers;
  std::vector<bool> mute_pictures;
  std::optional<LinkPicture> link;
  std::optional<int> gauge;
  int fronts = 0;
  std::vector<std::string> messages;
  std::vector<std::string> events;
  std::vector<int> pauses;
  std::vector<int> wait_timeouts;  // of every WaitWhile, in order
  std::function<void()> on_wait;
  // What happens meanwhile, run at every Pause.
  std::function<void()> on_pause;
  // What the real window's unload does with the monitor (its links closed), when a test wants it.
  std::function<void()> on_unload;
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
    // Kept as it is given: what the real writer makes of it is the writer's own rule.
    values[Key(section, key)] = std::string(value);
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
    if (o && (!can_open || (port_opens && !port_opens(port)))) return open = false;
    open = o;
    log.push_back(o ? "open" : "close");
    if (o) opened.push_back(port);
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
    if (!open) return;  // a closed port hears nothing
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
  // Which port numbers open (all when unset), and the ports opened, in order.
  std::function<bool(int)> port_opens;
  std::vector<int> opened;
  std::deque<std::uint8_t> waiting;
  std::vector<std::uint8_t> sent;
  std::vector<std::string> log;
};

// The USB link as the monitor has it (HidUsbLink, the real rules) in front of a FakeHidDevice
// playing its replay list, on a clock the test moves. Keeps what the monitor asked for.
class FakeUsb : public UsbLink {
 public:
  bool FindUsbDevice(std::string_view product) override {
    RunOnce(on_search);
    searches.push_back(std::string(product));
    events.push_back("search");
    device.present = present;
    return link.FindUsbDevice(product);
  }
  UsbRead ReadUsbReport(std::span<std::uint8_t> buffer, int wait_ms) override {
    RunOnce(on_read);
    waits.push_back(wait_ms);
    const UsbRead read = link.ReadUsbReport(buffer, wait_ms);
    present = device.present;  // an "unplug" entry of the replay list pulls the cable
    if (read.status == UsbRead::Status::Lost) events.push_back("lost");
    return read;
  }
  // `reports` keeps every payload asked for, sent or not; `device.written` what went out.
  bool WriteUsbReport(std::span<const std::uint8_t> payload) override {
    reports.emplace_back(payload.begin(), payload.end());
    return link.WriteUsbReport(payload);
  }
  void Close() override {
    ++closes;
    events.push_back("close");
    link.Close();
  }
  // The cable: pulled out (reads fail at once) and put back (the next search finds it).
  void Unplug() { present = device.present = false; }
  void Plug() { present = device.present = true; }

  bool present = false;  // whether the next search finds the device
  std::vector<std::string> searches;
  std::vector<std::vector<std::uint8_t>> reports;
  std::vector<int> waits;           // the wait of every read the monitor asked for
  std::vector<std::string> events;  // "search", "close", "lost" in order
  int closes = 0;
  // Run once, at the start of the next search or read: what the window might do meanwhile.
  std::function<void()> on_search, on_read;
  FakeHidDevice device;
  FakeDeviceErrors errors;
  FakeClock clock;
  HidUsbLink link{device, errors, clock.AsClock()};

 private:
  static void RunOnce(std::function<void()>& hook) {
    if (!hook) return;
    const std::function<void()> run = std::move(hook);
    hook = nullptr;
    run();
  }
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
  std::size_t Append(std::string_view text) override {
    ++appends;
    if (locked || refused) return 0;
    const std::size_t n = std::min(text.size(), room);
    contents += text.substr(0, n);
    room -= n;
    return n;
  }
  LogFailure LastFailure() const override {
    return refused ? LogFailure::Refused : LogFailure::Locked;
  }
  std::string contents;
  bool locked = false;
  // The file or its folder may not be written at all (read-only).
  bool refused = false;
  // Bytes the disk still takes.
  std::size_t room = static_cast<std::size_t>(-1);
  int appends = 0;
};

class FakePlatform : public Platform {
 public:
  LocalTime Now() const override { return now; }
  Separators UserSeparators() const override { return separators; }
  LocalTime now{2026, 3, 6, 14, 5, 9};
  Separators separators;
};

class FakeShutdown : public SystemShutdown {
 public:
  bool ShutdownSystem(int flags) override {
    requests.push_back(flags);
    calls.push_back("shutdown " + std::to_string(flags));
    if (on_request) on_request();
    if (fail) throw CorvaError(0x8004062Bu, "Corvamon.mShutDown", "ShutdownSystem failed: no");
    return true;
  }
  bool HibernationAvailable() override { return hibernation_available; }
  bool Hibernate() override {
    calls.push_back("hibernate");
    if (hibernate_refused) {
      throw CorvaError(0x80040630u, "Corvamon.mShutDown", "No puedo hibernar la PC: Acceso denegado.\r\n");
    }
    return true;
  }
  std::vector<int> requests;
  // Shutdown and hibernation requests, in order.
  std::vector<std::string> calls;
  bool fail = false;
  bool hibernation_available = true, hibernate_refused = false;
  std::function<void()> on_request;
};

class FakeOffice : public OfficeSaver {
 public:
  void SaveAllOffice(const std::string& folder) override { folders.push_back(folder); }
  std::vector<std::string> folders;
};

}  // namespace corva::fakes
