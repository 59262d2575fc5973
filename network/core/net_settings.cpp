#include "net_settings.h"

namespace corva::net {

namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// A whole decimal number within [low, high], or `fallback`.
int WholeNumber(std::string_view text, int low, int high, int fallback) {
  text = Trim(text);
  if (text.empty() || text.size() > 6) return fallback;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
  }
  return value >= low && value <= high ? value : fallback;
}

std::vector<std::string_view> CommaList(std::string_view text) {
  std::vector<std::string_view> out;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    if (!item.empty()) out.push_back(item);
    if (comma == std::string_view::npos) return out;
    text.remove_prefix(comma + 1);
  }
}

bool UsableName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || u == 0x7F || c == '"' || c == '\\' || c == '@' || c == ':') return false;
  }
  return true;
}

}  // namespace

NetworkSettings LoadNetworkSettings(const NetworkSettingReader& read) {
  NetworkSettings s;
  const auto value = [&](const char* key) { return read(ini::kRed, key); };

  s.Servidor = Trim(value(ini::kServidor)) == "1";
  s.Puerto = static_cast<std::uint16_t>(WholeNumber(value(ini::kPuerto), 1, 65535, kDefaultPort));

  const std::string listen = value(ini::kEscucha);
  for (std::string_view item : CommaList(listen)) {
    if (const auto address = ParseIpAddress(item)) {
      s.Escucha.push_back(*address);
    } else {
      s.ignored.emplace_back(item);
    }
  }

  const std::string allowed = value(ini::kPermitidos);
  const auto networks = CommaList(allowed);
  s.Permitidos.any_client = networks.empty();
  for (std::string_view item : networks) {
    if (const auto block = ParseCidrBlock(item)) {
      s.Permitidos.networks.push_back(*block);
    } else {
      s.ignored.emplace_back(item);
    }
  }

  const std::string name{Trim(value(ini::kNombre))};
  s.Nombre = UsableName(name) ? name : kDefaultUpsName;
  s.Usuario = std::string(Trim(value(ini::kUsuario)));
  s.Clave = std::string(Trim(value(ini::kClave)));
  s.EsperaSecundarios = WholeNumber(value(ini::kEsperaSecundarios), 0, kMaxFollowerWaitSeconds,
                                    kDefaultFollowerWaitSeconds);
  return s;
}

std::string ServerNotStartedText(std::uint16_t port) {
  return "No pude abrir el puerto de red " + std::to_string(port) +
         "\r\nLos otros equipos no verán el estado de la UPS";
}

}  // namespace corva::net
