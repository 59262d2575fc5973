// Fuzzes the NUT server's sessions: any bytes, cut anywhere, on several connections, with the
// clock and the readings changing in between. Nothing may crash, answer without a newline, serve
// the status while the data is stale, or let anybody log in when no account is configured.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ip_address.h"
#include "net_settings.h"
#include "nut_protocol.h"
#include "nut_server_core.h"

using namespace corva::net;

namespace {

NetworkSettings MakeSettings(bool with_password) {
  NetworkSettings s;
  s.Servidor = true;
  s.Usuario = "mon";
  s.Clave = with_password ? "secreto" : "";
  s.Permitidos = AllowList{false, {*ParseCidrBlock("10.0.0.0/8"), *ParseCidrBlock("::1/128")}};
  return s;
}

const NetworkSettings kAccount = MakeSettings(true);
// The same traffic goes to a server without an account: nobody may ever log in there.
const NetworkSettings kNoAccount = MakeSettings(false);
const IpAddress kFollowers[2] = {IpAddress::V4(10, 1, 2, 3), *ParseIpAddress("::1")};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // The parser on its own: whatever it splits, its words quote back to the same words.
  if (const auto words = SplitCommandLine(input.substr(0, input.find('\n')))) {
    std::string line;
    for (const std::string& w : *words) line += QuotedValue(w) + " ";
    if (SplitCommandLine(line) != words) std::abort();
  }
  const std::string_view guess = input.substr(0, std::min<std::size_t>(size, 16));
  if (SecretMatches("secreto", guess) != (guess == "secreto")) std::abort();
  if (const auto block = ParseCidrBlock(input.substr(0, std::min<std::size_t>(size, 48)))) {
    if (!block->Contains(block->base)) std::abort();
    if (ParseIpAddress(IpAddressText(block->base)) != block->base) std::abort();
  }

  Millis now = 50'000;
  NetServerCore core{kAccount, [&] { return now; }};
  NetServerCore locked{kNoAccount, [&] { return now; }};
  bool slot_open[4] = {};
  Millis last_frame = -1;

  // Control bytes steer: 0x01 next connection, 0x02 publish a frame, 0x03 let 6 s pass, 0x04 lose
  // the link, 0x05 mark the shutdown, 0x06 disconnect; other bytes go to the current connection
  // in chunks that end at the next control byte.
  int current = 0;
  std::size_t i = 0;
  bool lost = false;
  while (i < size) {
    const std::uint8_t c = data[i];
    if (c >= 1 && c <= 6) {
      ++i;
      UpsSnapshot ups;
      switch (c) {
        case 1:
          current = (current + 1) % 4;
          break;
        case 2:
        case 4:
          lost = c == 4;
          ups.last_frame_ms = now;
          ups.link_lost = lost;
          ups.on_battery = (i & 1) != 0;
          ups.battery_charge = static_cast<double>(i % 101);
          core.Publish(ups);
          locked.Publish(ups);
          last_frame = now;
          break;
        case 3:
          now += 6'000;
          break;
        case 5:
          core.MarkForcedShutdown();
          locked.MarkForcedShutdown();
          break;
        case 6:
          core.Disconnect(current);
          locked.Disconnect(current);
          slot_open[current] = false;
          break;
      }
      continue;
    }
    std::size_t end = i;
    while (end < size && (data[end] == 0 || data[end] > 6)) ++end;
    if (!slot_open[current]) {
      const IpAddress& peer = kFollowers[current % 2];
      const auto admitted = core.Admit(peer);
      if (admitted.result != NetServerCore::Admission::Accepted) std::abort();
      if (locked.Admit(peer).slot != admitted.slot) std::abort();
      slot_open[current] = true;
      if (admitted.slot < 0 || admitted.slot >= kMaxClients) std::abort();
    }
    const auto reply = core.Receive(current, input.substr(i, end - i));
    locked.Receive(current, input.substr(i, end - i));
    i = end;
    const bool stale = last_frame < 0 || lost || now - last_frame >= kStaleAfterMs;
    if (!reply.output.empty() && reply.output.back() != '\n') std::abort();
    if (reply.output.find("VAR ups ups.status \"O") != std::string::npos && stale) {
      std::abort();  // a status served from no data, or from a lost link
    }
    if (reply.close) {
      core.Disconnect(current);
      locked.Disconnect(current);
      slot_open[current] = false;
    }
    if (locked.LoggedInFollowers() != 0) std::abort();  // logged in with no account
  }
  if (core.Admit(IpAddress::V4(192, 168, 1, 1)).result != NetServerCore::Admission::NotAllowed) {
    std::abort();
  }
  return 0;
}
