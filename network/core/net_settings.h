#pragma once
// The [Red] section of Corvamon.ini: whether Corvamon serves the UPS to other computers over the
// NUT network protocol, where, to whom, and how long the shutdown waits for them.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ip_address.h"

namespace corva::net {

namespace ini {
inline constexpr char kRed[] = "Red";
inline constexpr char kServidor[] = "Servidor";
inline constexpr char kPuerto[] = "Puerto";
inline constexpr char kEscucha[] = "Escucha";
inline constexpr char kPermitidos[] = "Permitidos";
inline constexpr char kNombre[] = "Nombre";
inline constexpr char kUsuario[] = "Usuario";
inline constexpr char kClave[] = "Clave";
inline constexpr char kEsperaSecundarios[] = "EsperaSecundarios";
}  // namespace ini

inline constexpr std::uint16_t kDefaultPort = 3493;
inline constexpr char kDefaultUpsName[] = "ups";
inline constexpr int kDefaultFollowerWaitSeconds = 15;
inline constexpr int kMaxFollowerWaitSeconds = 600;

struct NetworkSettings {
  bool Servidor = false;
  std::uint16_t Puerto = kDefaultPort;
  // Empty: every address, IPv4 and IPv6.
  std::vector<IpAddress> Escucha;
  AllowList Permitidos;
  std::string Nombre = kDefaultUpsName;
  std::string Usuario;
  std::string Clave;
  int EsperaSecundarios = kDefaultFollowerWaitSeconds;
  // Entries of Escucha and Permitidos that are not addresses or networks, for the debug output.
  std::vector<std::string> ignored;

  // Only an account with both a name and a password can log in.
  bool AccountConfigured() const { return !Usuario.empty() && !Clave.empty(); }
};

// Reads one value of the section; answers an empty text when the key is missing (unlike the
// monitor's own keys, whose missing value is "0": here 0 is a meaningful wait).
using NetworkSettingReader =
    std::function<std::string(std::string_view section, std::string_view key)>;

// Reads [Red]. Bad values fall back to their defaults: Servidor other than "1" is off, a port
// outside 1..65535 is 3493, a wait outside 0..600 is 15, an empty or unusable name (blanks,
// quotes, backslashes) is "ups". Entries of Escucha that are not addresses are left out (none
// left: every address); entries of Permitidos that are not networks are left out, and when the
// key named networks but none was usable, no client is allowed (a typing error never opens the
// server to everybody).
NetworkSettings LoadNetworkSettings(const NetworkSettingReader& read);

// What the user is told, once, when the server could not listen anywhere: the monitor runs on
// without it.
std::string ServerNotStartedText(std::uint16_t port);

}  // namespace corva::net
