// The NUT server's rules: the [Red] settings, addresses and networks, the command line, the
// answers of a session, login, the forced shutdown and stale data.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ip_address.h"
#include "net_settings.h"
#include "nut_protocol.h"
#include "nut_server_core.h"
#include "product_version.h"
#include "ups_variables.h"

using namespace corva::net;

namespace {

NetworkSettings SettingsFrom(std::map<std::string, std::string> keys) {
  return LoadNetworkSettings([&](std::string_view section, std::string_view key) {
    EXPECT_EQ(section, "Red");
    const auto it = keys.find(std::string(key));
    return it == keys.end() ? std::string() : it->second;
  });
}

IpAddress Ip(const char* text) {
  const auto ip = ParseIpAddress(text);
  EXPECT_TRUE(ip) << text;
  return ip.value_or(IpAddress{});
}

UpsSnapshot FreshUps(Millis now) {
  UpsSnapshot ups;
  ups.last_frame_ms = now;
  ups.battery_charge = 200.0 / 3;
  ups.battery_charge_low = 30;
  ups.output_voltage = 220.04;
  ups.output_frequency = 50;
  ups.beeper_enabled = true;
  return ups;
}

// A server with the account "mon"/"secreto", a clock the test moves and one client connected.
struct Rig {
  Millis now = 100'000;
  NetServerCore core{SettingsFrom({{"Servidor", "1"}, {"Usuario", "mon"}, {"Clave", "secreto"}}),
                     [this] { return now; }};
  int slot = core.Admit(Ip("127.0.0.1")).slot;

  std::string Say(const std::string& line, int on = -1) {
    return core.Receive(on < 0 ? slot : on, line + "\n").output;
  }
};

}  // namespace

TEST(NetworkSettingsTest, DefaultsGoodValuesAndBadValues) {
  const NetworkSettings none = SettingsFrom({});
  EXPECT_FALSE(none.Servidor);
  EXPECT_EQ(none.Puerto, 3493);
  EXPECT_TRUE(none.Escucha.empty());
  EXPECT_TRUE(none.Permitidos.any_client);
  EXPECT_EQ(none.Nombre, "ups");
  EXPECT_FALSE(none.AccountConfigured());
  EXPECT_EQ(none.EsperaSecundarios, 15);

  const NetworkSettings good = SettingsFrom({{"Servidor", " 1 "},
                                             {"Puerto", "3494"},
                                             {"Escucha", "127.0.0.1, ::1"},
                                             {"Permitidos", "192.168.1.0/24,::1/128"},
                                             {"Nombre", "sai"},
                                             {"Usuario", "mon"},
                                             {"Clave", "x y"},
                                             {"EsperaSecundarios", "0"}});
  EXPECT_TRUE(good.Servidor);
  EXPECT_EQ(good.Puerto, 3494);
  ASSERT_EQ(good.Escucha.size(), 2u);
  EXPECT_TRUE(good.Escucha[1].v6);
  EXPECT_FALSE(good.Permitidos.any_client);
  EXPECT_TRUE(good.Permitidos.Allows(Ip("192.168.1.77")));
  EXPECT_FALSE(good.Permitidos.Allows(Ip("192.168.2.1")));
  EXPECT_EQ(good.Nombre, "sai");
  EXPECT_TRUE(good.AccountConfigured());
  EXPECT_EQ(good.Clave, "x y");
  EXPECT_EQ(good.EsperaSecundarios, 0);

  for (const char* off : {"0", "2", "si", "1x"})
    EXPECT_FALSE(SettingsFrom({{"Servidor", off}}).Servidor);
  for (const char* port : {"0", "65536", "80x", "-1"}) {
    EXPECT_EQ(SettingsFrom({{"Puerto", port}}).Puerto, 3493) << port;
  }
  EXPECT_EQ(SettingsFrom({{"Puerto", "65535"}}).Puerto, 65535);
  for (const char* wait : {"601", "-5", "diez"}) {
    EXPECT_EQ(SettingsFrom({{"EsperaSecundarios", wait}}).EsperaSecundarios, 15) << wait;
  }
  EXPECT_EQ(SettingsFrom({{"EsperaSecundarios", "600"}}).EsperaSecundarios, 600);
  for (const char* name : {" ", "mi ups", "a\"b", "x@y"}) {
    EXPECT_EQ(SettingsFrom({{"Nombre", name}}).Nombre, "ups") << name;
  }
  EXPECT_FALSE(SettingsFrom({{"Usuario", "mon"}}).AccountConfigured());
  EXPECT_FALSE(SettingsFrom({{"Clave", "x"}}).AccountConfigured());

  // An unusable listening address is left out; unusable networks never open the server to all.
  const NetworkSettings typo =
      SettingsFrom({{"Escucha", "localhost,10.0.0.1"}, {"Permitidos", "192.168.1.0/33"}});
  ASSERT_EQ(typo.Escucha.size(), 1u);
  EXPECT_FALSE(typo.Permitidos.any_client);
  EXPECT_FALSE(typo.Permitidos.Allows(Ip("192.168.1.1")));
  EXPECT_EQ(typo.ignored.size(), 2u);
}

TEST(IpAddressTest, ParsesWritesAndMatchesNetworks) {
  EXPECT_EQ(IpAddressText(Ip("10.0.0.255")), "10.0.0.255");
  EXPECT_EQ(IpAddressText(Ip("::1")), "::1");
  EXPECT_EQ(IpAddressText(Ip("fe80:0:0:0:1:0:0:2")), "fe80::1:0:0:2");
  EXPECT_EQ(Ip("::ffff:192.168.1.5").Unmapped(), Ip("192.168.1.5"));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "1:2:3:4:5:6:7:8:9",
                          "1::2::3", ":::", "12345::", "g::1", "::1.2.3", "1.2.3.4:"}) {
    EXPECT_FALSE(ParseIpAddress(bad)) << bad;
  }

  const auto lan = ParseCidrBlock("192.168.1.0/24");
  ASSERT_TRUE(lan);
  EXPECT_TRUE(lan->Contains(Ip("192.168.1.200")));
  EXPECT_FALSE(lan->Contains(Ip("192.168.0.200")));
  EXPECT_FALSE(lan->Contains(Ip("::ffff:192.168.1.200")));  // the allow list unmaps, not the block
  const auto odd = ParseCidrBlock("10.0.0.0/9");
  ASSERT_TRUE(odd);
  EXPECT_TRUE(odd->Contains(Ip("10.127.1.1")));
  EXPECT_FALSE(odd->Contains(Ip("10.128.0.0")));
  const auto six = ParseCidrBlock("fd00::/8");
  ASSERT_TRUE(six);
  EXPECT_TRUE(six->Contains(Ip("fdab::1")));
  EXPECT_FALSE(six->Contains(Ip("fe00::1")));
  for (const char* bad : {"10.0.0.0/", "10.0.0.0/x", "::/129", "1.2.3.4/33"}) {
    EXPECT_FALSE(ParseCidrBlock(bad)) << bad;
  }

  AllowList loopback{false, {*ParseCidrBlock("127.0.0.1/32"), *ParseCidrBlock("::1")}};
  EXPECT_TRUE(loopback.Allows(Ip("::ffff:127.0.0.1")));
  EXPECT_TRUE(loopback.Allows(Ip("::1")));
  EXPECT_FALSE(loopback.Allows(Ip("127.0.0.2")));
  const AllowList nobody{false, {}};
  EXPECT_FALSE(nobody.Allows(Ip("127.0.0.1")));
}

TEST(NutCommandLineTest, SplitsQuotesAndEscapes) {
  using Words = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine("GET  VAR ups\tups.status\r"),
            (Words{"GET", "VAR", "ups", "ups.status"}));
  EXPECT_EQ(SplitCommandLine(R"(PASSWORD "dos palabras")"), (Words{"PASSWORD", "dos palabras"}));
  EXPECT_EQ(SplitCommandLine(R"(X "a \"b\" \\c" d\ e "")"), (Words{"X", R"(a "b" \c)", "d e", ""}));
  EXPECT_EQ(SplitCommandLine(R"(ab"c d"e)"), (Words{"abc de"}));
  EXPECT_EQ(SplitCommandLine("   "), Words{});
  EXPECT_FALSE(SplitCommandLine(R"(USERNAME "open)"));
  EXPECT_FALSE(SplitCommandLine(R"(USERNAME end\)"));

  EXPECT_EQ(QuotedValue(R"(say "hi" \ ok)"), R"("say \"hi\" \\ ok")");
  EXPECT_EQ(SplitCommandLine("V " + QuotedValue(R"(a"\b)")), (Words{"V", R"(a"\b)"}));

  EXPECT_TRUE(SecretMatches("secreto", "secreto"));
  for (const char* wrong : {"secret", "secreto!", "Secreto", "", "secretosecreto"}) {
    EXPECT_FALSE(SecretMatches("secreto", wrong)) << wrong;
  }
  EXPECT_FALSE(SecretMatches("", ""));
}

TEST(UpsVariablesTest, StatusWordsTimerAndStaleRule) {
  UpsSnapshot ups = FreshUps(0);
  EXPECT_EQ(UpsStatusText(ups), "OL");
  ups.on_battery = true;
  EXPECT_EQ(UpsStatusText(ups), "OB");
  ups.battery_charge = 30;
  EXPECT_EQ(UpsStatusText(ups), "OB LB");
  ups.overload = true;
  ups.forced_shutdown = true;
  EXPECT_EQ(UpsStatusText(ups), "FSD OB LB OVER");
  EXPECT_EQ(ShutdownDelaySeconds(1, 3), 180);
  EXPECT_FALSE(ShutdownDelaySeconds(0, 3));

  ups = FreshUps(1'000);
  EXPECT_FALSE(DataStale(ups, 1'000 + kStaleAfterMs - 1));
  EXPECT_TRUE(DataStale(ups, 1'000 + kStaleAfterMs));
  ups.link_lost = true;
  EXPECT_TRUE(DataStale(ups, 1'000));
  EXPECT_TRUE(DataStale(UpsSnapshot{}, 0));

  ups = FreshUps(1'000);
  auto vars = BuildUpsVariables(ups, 2'000);
  EXPECT_TRUE(vars.Find("output.voltage"));
  ups.on_battery = true;  // the window shows no voltage then
  EXPECT_FALSE(BuildUpsVariables(ups, 2'000).Find("output.voltage"));
  ups.on_battery = false;
  ASSERT_TRUE(vars.Find("ups.timer.shutdown"));
  EXPECT_EQ(vars.Find("ups.timer.shutdown")->value, "-1");
  EXPECT_FALSE(vars.Find("ups.delay.shutdown"));
  ups.delay_shutdown_s = 120;
  ups.ups_off_at_ms = 2'000 + 119'500;
  vars = BuildUpsVariables(ups, 2'000);
  EXPECT_EQ(vars.Find("ups.delay.shutdown")->value, "120");
  EXPECT_EQ(vars.Find("ups.timer.shutdown")->value, "120");
  EXPECT_EQ(BuildUpsVariables(ups, 2'000 + 200'000).Find("ups.timer.shutdown"), nullptr);  // stale
  ups.last_frame_ms = 300'000;
  EXPECT_EQ(BuildUpsVariables(ups, 300'000).Find("ups.timer.shutdown")->value, "0");
}

TEST(NutSessionTest, ReadCommandsAnswerInTheProtocolsForm) {
  Rig rig;
  rig.core.Publish(FreshUps(rig.now));
  EXPECT_EQ(rig.Say("VER"), "Corvamon " CORVA_VERSION "\n");
  EXPECT_EQ(rig.Say("NETVER"), "1.3\n");
  EXPECT_EQ(rig.Say("protver"), "1.3\n");
  EXPECT_EQ(rig.Say("LIST UPS"), "BEGIN LIST UPS\nUPS ups \"Corvamon\"\nEND LIST UPS\n");
  EXPECT_EQ(rig.Say("GET VAR ups ups.status"), "VAR ups ups.status \"OL\"\n");
  EXPECT_EQ(rig.Say("GET VAR UPS battery.charge"), "VAR ups battery.charge \"66.67\"\n");
  EXPECT_EQ(rig.Say("GET VAR ups output.voltage"), "VAR ups output.voltage \"220.0\"\n");
  EXPECT_EQ(rig.Say("GET VAR ups ups.beeper.status"), "VAR ups ups.beeper.status \"enabled\"\n");
  EXPECT_EQ(rig.Say("GET VAR ups nada.de.nada"), "ERR VAR-NOT-SUPPORTED\n");
  EXPECT_EQ(rig.Say("GET VAR otra ups.status"), "ERR UNKNOWN-UPS\n");
  EXPECT_EQ(rig.Say("GET TYPE ups battery.charge"), "TYPE ups battery.charge NUMBER\n");
  EXPECT_EQ(rig.Say("GET TYPE ups nada"), "ERR VAR-NOT-SUPPORTED\n");
  EXPECT_EQ(rig.Say("GET DESC ups ups.status").rfind("DESC ups ups.status \"", 0), 0u);
  EXPECT_EQ(rig.Say("GET UPSDESC ups"), "UPSDESC ups \"Corvamon\"\n");
  EXPECT_EQ(rig.Say("GET NUMLOGINS ups"), "NUMLOGINS ups 0\n");
  EXPECT_EQ(rig.Say("GET VAR ups"), "ERR INVALID-ARGUMENT\n");

  const std::string list = rig.Say("LIST VAR ups");
  EXPECT_EQ(list.rfind("BEGIN LIST VAR ups\n", 0), 0u);
  EXPECT_NE(list.find("VAR ups battery.charge.low \"30\"\n"), std::string::npos);
  EXPECT_NE(list.find("VAR ups device.type \"ups\"\n"), std::string::npos);
  EXPECT_NE(list.find("VAR ups ups.status \"OL\"\n"), std::string::npos);
  EXPECT_EQ(list.size() - list.rfind("END LIST VAR ups\n"), 17u);
  EXPECT_EQ(rig.Say("LIST CMD ups"), "BEGIN LIST CMD ups\nEND LIST CMD ups\n");
  EXPECT_EQ(rig.Say("LIST ENUM ups ups.status"),
            "BEGIN LIST ENUM ups ups.status\nEND LIST ENUM ups ups.status\n");
  EXPECT_EQ(rig.Say("LIST RANGE ups nada"), "ERR VAR-NOT-SUPPORTED\n");
  EXPECT_EQ(rig.Say("LIST VAR otra"), "ERR UNKNOWN-UPS\n");

  // Read-only: nothing a client sends changes anything.
  for (const char* refused : {"SET VAR ups ups.status \"OB\"", "INSTCMD ups load.off", "FSD ups",
                              "PRIMARY ups", "MASTER ups"}) {
    EXPECT_EQ(rig.Say(refused), "ERR ACCESS-DENIED\n") << refused;
  }
  EXPECT_EQ(rig.Say("GET VAR ups ups.status"), "VAR ups ups.status \"OL\"\n");
  EXPECT_EQ(rig.Say("STARTTLS"), "ERR FEATURE-NOT-CONFIGURED\n");
  EXPECT_EQ(rig.Say("REQ ups.status"), "ERR UNKNOWN-COMMAND\n");
  EXPECT_EQ(rig.Say("USERNAME \"open"), "ERR INVALID-ARGUMENT\n");

  // Lines may arrive in pieces and several at once; empty lines answer nothing.
  EXPECT_EQ(rig.core.Receive(rig.slot, "NET").output, "");
  EXPECT_EQ(rig.core.Receive(rig.slot, "VER\n\nVER\r\nNETV").output,
            "1.3\nCorvamon " CORVA_VERSION "\n");
  EXPECT_EQ(rig.core.Receive(rig.slot, "ER\n").output, "1.3\n");
}

TEST(NutSessionTest, StaleDataIsNeverServedButAForcedShutdownIs) {
  Rig rig;
  EXPECT_EQ(rig.Say("GET VAR ups ups.status"), "ERR DATA-STALE\n");  // no frame yet
  EXPECT_EQ(rig.Say("LIST VAR ups"), "ERR DATA-STALE\n");
  EXPECT_EQ(rig.Say("GET TYPE ups ups.status"), "TYPE ups ups.status STRING:16\n");

  rig.core.Publish(FreshUps(rig.now));
  EXPECT_EQ(rig.Say("GET VAR ups ups.status"), "VAR ups ups.status \"OL\"\n");
  rig.now += kStaleAfterMs;
  EXPECT_EQ(rig.Say("GET VAR ups ups.status"), "ERR DATA-STALE\n");
  EXPECT_EQ(rig.Say("LIST VAR ups"), "ERR DATA-STALE\n");

  UpsSnapshot ups = FreshUps(rig.now);
  ups.link_lost = true;
  rig.core.Publish(ups);
  EXPECT_EQ(rig.Say("GET VAR ups battery.charge"), "ERR DATA-STALE\n");

  // The shutdown decided: followers see FSD even without data, and it stays marked.
  rig.core.MarkForcedShutdown();
  EXPECT_EQ(rig.Say("GET VAR ups ups.status"), "VAR ups ups.status \"FSD\"\n");
  EXPECT_EQ(rig.Say("GET VAR ups battery.charge"), "ERR DATA-STALE\n");
  EXPECT_EQ(rig.Say("LIST VAR ups"),
            "BEGIN LIST VAR ups\nVAR ups ups.status \"FSD\"\nEND LIST VAR ups\n");
  ups = FreshUps(rig.now);
  ups.on_battery = true;
  ups.battery_charge = 20;
  rig.core.Publish(ups);
  EXPECT_EQ(rig.Say("GET VAR ups ups.status"), "VAR ups ups.status \"FSD OB LB\"\n");

  // The computer woke from the hibernation the shutdown ended in: FSD is over.
  rig.core.ClearForcedShutdown();
  ups.forced_shutdown = false;
  rig.core.Publish(ups);
  EXPECT_EQ(rig.Say("GET VAR ups ups.status"), "VAR ups ups.status \"OB LB\"\n");
}

TEST(NutSessionTest, FollowersLogInOnceWithTheAccountAndLeave) {
  Rig rig;
  rig.core.Publish(FreshUps(rig.now));
  EXPECT_EQ(rig.Say("LOGIN ups"), "ERR USERNAME-REQUIRED\n");
  EXPECT_EQ(rig.Say("USERNAME mon"), "OK\n");
  EXPECT_EQ(rig.Say("USERNAME otro"), "ERR ALREADY-SET-USERNAME\n");
  EXPECT_EQ(rig.Say("LOGIN ups"), "ERR PASSWORD-REQUIRED\n");
  EXPECT_EQ(rig.Say("PASSWORD secreto"), "OK\n");
  EXPECT_EQ(rig.Say("PASSWORD secreto"), "ERR ALREADY-SET-PASSWORD\n");
  EXPECT_EQ(rig.Say("LOGIN otra"), "ERR UNKNOWN-UPS\n");
  EXPECT_EQ(rig.core.LoggedInFollowers(), 0);
  EXPECT_EQ(rig.Say("LOGIN ups"), "OK\n");
  EXPECT_EQ(rig.Say("LOGIN ups"), "ERR ALREADY-LOGGED-IN\n");
  EXPECT_EQ(rig.Say("GET NUMLOGINS ups"), "NUMLOGINS ups 1\n");
  EXPECT_EQ(rig.core.LoggedInFollowers(), 1);

  // A wrong password and a wrong name are refused; the first follower is listed.
  const int second = rig.core.Admit(Ip("::1")).slot;
  rig.Say("USERNAME mon", second);
  rig.Say("PASSWORD secret", second);
  EXPECT_EQ(rig.Say("LOGIN ups", second), "ERR ACCESS-DENIED\n");
  const int third = rig.core.Admit(Ip("10.1.2.3")).slot;
  rig.Say("USERNAME Mon", third);
  rig.Say("PASSWORD secreto", third);
  EXPECT_EQ(rig.Say("LOGIN ups", third), "ERR ACCESS-DENIED\n");
  EXPECT_EQ(rig.Say("LIST CLIENT ups", second),
            "BEGIN LIST CLIENT ups\nCLIENT ups 127.0.0.1\nEND LIST CLIENT ups\n");

  // LOGOUT says goodbye and ends the connection; a dropped connection ends its login too.
  const auto bye = rig.core.Receive(rig.slot, "LOGOUT\nVER\n");
  EXPECT_EQ(bye.output, "OK Goodbye\n");
  EXPECT_TRUE(bye.close);
  rig.core.Disconnect(rig.slot);
  EXPECT_EQ(rig.core.LoggedInFollowers(), 0);
  const int fourth = rig.core.Admit(Ip("10.1.2.4")).slot;
  rig.Say("USERNAME mon", fourth);
  rig.Say("PASSWORD secreto", fourth);
  rig.Say("LOGIN ups", fourth);
  EXPECT_EQ(rig.core.LoggedInFollowers(), 1);
  rig.core.Disconnect(fourth);
  EXPECT_EQ(rig.core.LoggedInFollowers(), 0);

  // Without a complete account nobody logs in, not even with empty words.
  NetServerCore open{SettingsFrom({{"Usuario", "mon"}}), [] { return Millis{0}; }};
  const int s = open.Admit(Ip("127.0.0.1")).slot;
  open.Receive(s, "USERNAME mon\nPASSWORD \"\"\n");
  EXPECT_EQ(open.Receive(s, "LOGIN ups\n").output, "ERR ACCESS-DENIED\n");
}

TEST(NutSessionTest, AdmissionLimitsAndLongLines) {
  NetServerCore core{SettingsFrom({{"Permitidos", "127.0.0.0/8,::1/128"}}),
                     [] { return Millis{0}; }};
  EXPECT_EQ(core.Admit(Ip("192.168.1.2")).result, NetServerCore::Admission::NotAllowed);
  EXPECT_EQ(core.Admit(Ip("::ffff:127.0.0.9")).result, NetServerCore::Admission::Accepted);
  for (int i = 1; i < kMaxClients; ++i) {
    EXPECT_EQ(core.Admit(Ip("::1")).result, NetServerCore::Admission::Accepted);
  }
  EXPECT_EQ(core.ClientCount(), kMaxClients);
  EXPECT_EQ(core.Admit(Ip("::1")).result, NetServerCore::Admission::Full);
  core.Disconnect(7);
  EXPECT_EQ(core.Admit(Ip("127.0.0.1")).slot, 7);

  // 1024 bytes are a line; one more is refused and ends the connection, newline or not.
  const std::string longest = "VER" + std::string(kMaxLineLength - 3, ' ');
  EXPECT_EQ(core.Receive(0, longest + "\n").output, "Corvamon " CORVA_VERSION "\n");
  const auto too_long = core.Receive(0, std::string(kMaxLineLength, 'A'));
  EXPECT_FALSE(too_long.close);
  const auto over = core.Receive(0, "A");
  EXPECT_EQ(over.output, "ERR INVALID-ARGUMENT\n");
  EXPECT_TRUE(over.close);
  const auto one_go = core.Receive(1, std::string(kMaxLineLength + 1, 'B') + "\n");
  EXPECT_EQ(one_go.output, "ERR INVALID-ARGUMENT\n");
  EXPECT_TRUE(one_go.close);
}
