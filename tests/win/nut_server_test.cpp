// The NUT server under Wine: real sockets on the loopback address, a plain client, the answers,
// the stale rule, the client limit, a client that never reads, a refused address and a port that
// is taken. Run with "--serve PORT" it serves a fixed snapshot until it is ended, for Linux's
// own NUT clients.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "nut_server.h"
#include "network_settings_file.h"
#include "nut_server_core.h"
#include "socket_handle.h"

using namespace corva::net;
using corva::net::win::NutServer;
using corva::win::unique_socket;

namespace {

NetworkSettings LoopbackSettings() {
  NetworkSettings s;
  s.Servidor = true;
  s.Puerto = 0;  // a free port, chosen by the system
  s.Escucha = {IpAddress::V4(127, 0, 0, 1)};
  s.Usuario = "mon";
  s.Clave = "secreto";
  return s;
}

UpsSnapshot FreshUps() {
  UpsSnapshot ups;
  ups.last_frame_ms = NutServer::Now();
  ups.battery_charge = 80;
  ups.battery_charge_low = 30;
  ups.output_voltage = 221;
  ups.output_frequency = 50;
  return ups;
}

// A blocking client with a receive time limit, so a missing answer fails instead of hanging.
class Client {
 public:
  explicit Client(std::uint16_t port) {
    socket_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    DWORD limit_ms = 5000;
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit_ms),
                 sizeof limit_ms);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = ::htons(port);
    to.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    connected_ = ::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
  }
  bool connected() const { return connected_; }
  bool Send(const std::string& text) {
    return ::send(socket_.get(), text.data(), static_cast<int>(text.size()), 0) ==
           static_cast<int>(text.size());
  }
  // One line without its newline; "<closed>" when the server ended the connection first.
  std::string Line() {
    std::string line;
    char c;
    while (true) {
      const int got = ::recv(socket_.get(), &c, 1, 0);
      if (got <= 0) return got == 0 && line.empty() ? "<closed>" : line + "<cut>";
      if (c == '\n') return line;
      line += c;
    }
  }
  std::string Ask(const std::string& line) {
    Send(line + "\n");
    return Line();
  }
  SOCKET get() const { return socket_.get(); }

 private:
  unique_socket socket_;
  bool connected_ = false;
};

// Waits for a condition the server reaches on its own thread (no signal to wait on from here).
bool Eventually(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class NutServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(winsock.ok());
    const auto started = server.Start();
    ASSERT_TRUE(started.listening);
    ASSERT_TRUE(started.failures.empty());
    port = server.BoundPort();
    ASSERT_NE(port, 0);
  }
  corva::win::winsock_session winsock;
  NutServer server{LoopbackSettings()};
  std::uint16_t port = 0;
};

}  // namespace

TEST_F(NutServerTest, AnswersFollowersAndCountsTheirLogins) {
  Client c(port);
  ASSERT_TRUE(c.connected());
  EXPECT_EQ(c.Ask("GET VAR ups ups.status"), "ERR DATA-STALE");  // nothing published yet
  server.Publish(FreshUps());
  EXPECT_EQ(c.Ask("GET VAR ups ups.status"), "VAR ups ups.status \"OL\"");
  EXPECT_EQ(c.Ask("GET VAR ups battery.charge"), "VAR ups battery.charge \"80.00\"");
  EXPECT_EQ(c.Ask("LIST UPS"), "BEGIN LIST UPS");
  EXPECT_EQ(c.Line(), "UPS ups \"Corvamon\"");
  EXPECT_EQ(c.Line(), "END LIST UPS");
  EXPECT_EQ(c.Ask("SET VAR ups ups.status OB"), "ERR ACCESS-DENIED");

  EXPECT_EQ(c.Ask("USERNAME mon"), "OK");
  EXPECT_EQ(c.Ask("PASSWORD secreto"), "OK");
  EXPECT_EQ(c.Ask("LOGIN ups"), "OK");
  EXPECT_EQ(server.LoggedInFollowers(), 1);
  Client other(port);
  EXPECT_EQ(other.Ask("GET NUMLOGINS ups"), "NUMLOGINS ups 1");

  // The follower leaves by dropping its connection: the count falls without any LOGOUT.
  ::closesocket(c.get());
  EXPECT_TRUE(Eventually([&] { return server.LoggedInFollowers() == 0; }));
  EXPECT_EQ(other.Ask("LOGOUT"), "OK Goodbye");
  EXPECT_EQ(other.Line(), "<closed>");
}

TEST_F(NutServerTest, StaleDataAndTheForcedShutdown) {
  Client c(port);
  UpsSnapshot old = FreshUps();
  *old.last_frame_ms -= kStaleAfterMs + 1000;
  server.Publish(old);
  EXPECT_EQ(c.Ask("GET VAR ups ups.status"), "ERR DATA-STALE");
  EXPECT_EQ(c.Ask("LIST VAR ups"), "ERR DATA-STALE");
  UpsSnapshot lost = FreshUps();
  lost.link_lost = true;
  server.Publish(lost);
  EXPECT_EQ(c.Ask("GET VAR ups ups.status"), "ERR DATA-STALE");
  UpsSnapshot failure = FreshUps();
  failure.on_battery = true;
  server.Publish(failure);
  EXPECT_EQ(c.Ask("GET VAR ups ups.status"), "VAR ups ups.status \"OB\"");
  server.MarkForcedShutdown();
  EXPECT_EQ(c.Ask("GET VAR ups ups.status"), "VAR ups ups.status \"FSD OB\"");
}

TEST_F(NutServerTest, ThirtyTwoClientsAtMostAndSlotsAreReused) {
  server.Publish(FreshUps());
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < kMaxClients; ++i) {
    clients.push_back(std::make_unique<Client>(port));
    ASSERT_EQ(clients.back()->Ask("NETVER"), "1.3") << i;
  }
  Client extra(port);
  EXPECT_EQ(extra.Line(), "<closed>");  // closed at once, with no reply
  EXPECT_EQ(server.ClientCount(), kMaxClients);

  clients.front().reset();
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == kMaxClients - 1; }));
  Client again(port);
  EXPECT_EQ(again.Ask("NETVER"), "1.3");
}

TEST_F(NutServerTest, AClientThatNeverReadsIsDroppedAndOthersGoOn) {
  server.Publish(FreshUps());
  Client greedy(port);
  Client polite(port);
  ASSERT_EQ(polite.Ask("NETVER"), "1.3");
  // Requests whose answers are seventy times larger, and never a byte read.
  std::string requests;
  for (int i = 0; i < 2000; ++i) requests += "LIST VAR ups\n";
  for (int round = 0; round < 200 && greedy.Send(requests); ++round) {
    if (server.ClientCount() == 1) break;
  }
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
  EXPECT_EQ(polite.Ask("GET VAR ups ups.status"), "VAR ups ups.status \"OL\"");
}

TEST(NutServerLimits, RefusedAddressAndTakenPort) {
  corva::win::winsock_session winsock;
  NetworkSettings closed = LoopbackSettings();
  closed.Permitidos = AllowList{false, {*ParseCidrBlock("10.0.0.0/8")}};
  NutServer refusing(closed);
  ASSERT_TRUE(refusing.Start().listening);
  Client c(refusing.BoundPort());
  EXPECT_EQ(c.Line(), "<closed>");  // closed at once, not a byte said

  NetworkSettings off = LoopbackSettings();
  off.Servidor = false;
  NutServer quiet(off);
  EXPECT_FALSE(quiet.Start().listening);
  EXPECT_EQ(quiet.BoundPort(), 0);

  NetworkSettings same = LoopbackSettings();
  same.Puerto = refusing.BoundPort();
  NutServer second(same);
  const auto started = second.Start();
  EXPECT_FALSE(started.listening);
  ASSERT_EQ(started.failures.size(), 1u);
  EXPECT_EQ(started.failures[0].error, WSAEADDRINUSE);
  EXPECT_NE(started.failures[0].Text().find("127.0.0.1"), std::string::npos);
}

TEST(NetworkSettingsFile, ReadsTheRedSectionWithItsOwnDefaults) {
  char folder[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathA(MAX_PATH, folder), 0u);
  const std::string path = std::string(folder) + "corva_red_test.ini";
  std::FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_TRUE(f);
  std::fputs(
      "[Apaga]\nApagaTNX=1\n[Red]\nServidor=1\nEsperaSecundarios=0\n"
      "Permitidos=127.0.0.1/32, ::1/128\nClave=la clave\n",
      f);
  std::fclose(f);
  const NetworkSettings s = corva::net::win::ReadNetworkSettings(path);
  std::remove(path.c_str());
  EXPECT_TRUE(s.Servidor);
  EXPECT_EQ(s.Puerto, kDefaultPort);  // missing: the default
  EXPECT_EQ(s.EsperaSecundarios, 0);  // written: no wait
  EXPECT_EQ(s.Nombre, "ups");
  EXPECT_EQ(s.Permitidos.networks.size(), 2u);
  EXPECT_EQ(s.Clave, "la clave");
  EXPECT_EQ(corva::net::win::ReadNetworkSettings(path + ".none").EsperaSecundarios,
            kDefaultFollowerWaitSeconds);
}

int main(int argc, char** argv) {
  // --serve PORT [ADDRESS]: a fixed, always fresh snapshot on the given port until ended.
  if (argc >= 3 && std::string(argv[1]) == "--serve") {
    NetworkSettings s = LoopbackSettings();
    s.Puerto = static_cast<std::uint16_t>(std::atoi(argv[2]));
    NutServer server(s);
    const auto started = server.Start();
    for (const auto& f : started.failures) std::fprintf(stderr, "%s\n", f.Text().c_str());
    if (!started.listening) return 2;
    std::printf("listening %u\n", server.BoundPort());
    std::fflush(stdout);
    while (true) {
      UpsSnapshot ups = FreshUps();
      ups.battery_charge = 200.0 / 3;
      ups.beeper_enabled = true;
      ups.delay_shutdown_s = 120;
      server.Publish(ups);
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
