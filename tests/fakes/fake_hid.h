#pragma once
// A HID device for the native tests: it plays a replay list of what each read finds, one entry
// per read, and keeps what is written to it. The list can be written as text, one entry a line:
//
//   # a comment
//   report 00 0A 26 26 26 38 78 C8 41 5C 30 30   one input report, bytes in hex
//   silent                                        the read waits and nothing comes
//   unplug                                        the read fails: the device is gone
//
// Once the list is played out the device is silent.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "usb_link.h"

namespace corva::fakes {

class FakeHidDevice : public HidDevice {
 public:
  struct Entry {
    enum class Kind { Report, Silent, Unplug } kind = Kind::Silent;
    std::vector<std::uint8_t> bytes;
  };

  // HidDevice
  bool Open(std::string_view product) override {
    log.push_back("open " + std::string(product));
    if (!present || product != name || open) return false;
    open = true;
    ++opens;
    return true;
  }
  UsbRead Read(std::span<std::uint8_t> buffer, int wait_ms) override {
    waits.push_back(wait_ms);
    if (!open || !present) return {UsbRead::Status::Lost, 0};
    if (replay.empty()) return {UsbRead::Status::Nothing, 0};
    Entry entry = std::move(replay.front());
    replay.pop_front();
    switch (entry.kind) {
      case Entry::Kind::Report: {
        // As a HID read does: the report, cut to the buffer.
        const std::size_t n = std::min(entry.bytes.size(), buffer.size());
        std::copy_n(entry.bytes.begin(), n, buffer.begin());
        return {UsbRead::Status::Report, n};
      }
      case Entry::Kind::Silent:
        return {UsbRead::Status::Nothing, 0};
      case Entry::Kind::Unplug:
        present = false;
        return {UsbRead::Status::Lost, 0};
    }
    return {UsbRead::Status::Nothing, 0};
  }
  bool Write(std::span<const std::uint8_t> report) override {
    ++write_calls;
    if (!open || !present || fail_writes) return false;
    written.emplace_back(report.begin(), report.end());
    return true;
  }
  void Close() override {
    log.push_back("close");
    if (open) ++closes;
    open = false;
  }

  // The replay list.
  void Report(std::vector<std::uint8_t> bytes) {
    replay.push_back({Entry::Kind::Report, std::move(bytes)});
  }
  // A report carrying `data` with its count byte: report id 0, n, the bytes.
  void Chunk(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes{0, static_cast<std::uint8_t>(data.size())};
    bytes.insert(bytes.end(), data.begin(), data.end());
    Report(std::move(bytes));
  }
  void Silent(int reads = 1) {
    for (int i = 0; i < reads; ++i) replay.push_back({Entry::Kind::Silent, {}});
  }
  void Unplug() { replay.push_back({Entry::Kind::Unplug, {}}); }
  // Appends the entries of a replay text (see the top of this file).
  void Play(std::string_view text) {
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::string word;
      if (!(words >> word) || word[0] == '#') continue;
      if (word == "report") {
        std::vector<std::uint8_t> bytes;
        while (words >> word) bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
        Report(std::move(bytes));
      } else if (word == "silent") {
        Silent();
      } else if (word == "unplug") {
        Unplug();
      } else {
        throw std::invalid_argument("replay: unknown entry \"" + word + "\"");
      }
    }
  }

  std::string name = "Corvamon";  // its product string
  bool present = true;            // plugged in
  bool open = false;
  bool fail_writes = false;  // output reports fail (the device going away)
  int opens = 0, closes = 0;
  int write_calls = 0;  // also those a closed device refused
  std::deque<Entry> replay;
  std::vector<int> waits;                          // the wait of every read
  std::vector<std::vector<std::uint8_t>> written;  // every output report, report id first
  std::vector<std::string> log;                    // opens and closes in order
};

class FakeDeviceErrors : public DeviceErrors {
 public:
  void ReportDeviceError(std::string_view message) override { messages.emplace_back(message); }
  std::vector<std::string> messages;
};

// A clock the test moves.
struct FakeClock {
  std::uint64_t now_ms = 1000000;
  void Advance(std::uint64_t ms) { now_ms += ms; }
  MonotonicClock AsClock() {
    return [this] { return now_ms; };
  }
};

}  // namespace corva::fakes
