#include "nut_server_core.h"

#include <utility>

#include "nut_protocol.h"
#include "product_version.h"

namespace corva::net {

namespace {

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string Line(std::string text) {
  return text + "\n";
}
std::string Error(const char* code) {
  return Line(std::string("ERR ") + code);
}

constexpr char kHelp[] =
    "Commands: HELP VER NETVER PROTVER GET LIST LOGIN LOGOUT USERNAME PASSWORD";

}  // namespace

NetServerCore::NetServerCore(NetworkSettings settings, Clock clock)
    : settings_(std::move(settings)), clock_(std::move(clock)) {}

NetServerCore::Admitted NetServerCore::Admit(const IpAddress& peer) {
  if (!settings_.Permitidos.Allows(peer)) return {Admission::NotAllowed, -1};
  for (int slot = 0; slot < kMaxClients; ++slot) {
    if (!sessions_[slot]) {
      NutSession& session = sessions_[slot].emplace();
      session.peer = peer.Unmapped();
      session.peer_text = IpAddressText(session.peer);
      return {Admission::Accepted, slot};
    }
  }
  return {Admission::Full, -1};
}

void NetServerCore::Disconnect(int slot) {
  if (slot >= 0 && slot < kMaxClients) sessions_[slot].reset();
}

void NetServerCore::Publish(const UpsSnapshot& ups) {
  ups_ = ups;
  if (ups.forced_shutdown) forced_shutdown_ = true;
}

int NetServerCore::LoggedInFollowers() const {
  int count = 0;
  for (const auto& session : sessions_) count += session && session->logged_in;
  return count;
}

int NetServerCore::ClientCount() const {
  int count = 0;
  for (const auto& session : sessions_) count += session.has_value();
  return count;
}

UpsVariables NetServerCore::Variables() const {
  UpsSnapshot ups = ups_;
  ups.forced_shutdown = ups.forced_shutdown || forced_shutdown_;
  return BuildUpsVariables(ups, clock_());
}

bool NetServerCore::KnownUps(std::string_view name) const {
  return SameWord(name, settings_.Nombre);
}

NetServerCore::Reply NetServerCore::Receive(int slot, std::string_view bytes) {
  Reply reply;
  if (slot < 0 || slot >= kMaxClients || !sessions_[slot]) return {"", true};
  NutSession& session = *sessions_[slot];
  while (!bytes.empty()) {
    const std::size_t newline = bytes.find('\n');
    const std::string_view part = bytes.substr(0, newline);
    if (session.pending.size() + part.size() > kMaxLineLength) {
      reply.output += Error(err::kInvalidArgument);
      reply.close = true;
      return reply;
    }
    session.pending.append(part);
    if (newline == std::string_view::npos) break;
    bytes.remove_prefix(newline + 1);
    const std::string line = std::exchange(session.pending, {});
    const auto words = SplitCommandLine(line);
    if (!words) {
      reply.output += Error(err::kInvalidArgument);
    } else if (!words->empty()) {
      reply.output += Execute(session, *words, reply.close);
    }
    if (reply.close) return reply;
  }
  return reply;
}

std::string NetServerCore::Execute(NutSession& session, const std::vector<std::string>& words,
                                   bool& close) {
  const std::string& verb = words[0];
  const std::size_t args = words.size() - 1;
  if (SameWord(verb, "VER")) return Line(std::string(CORVA_PRODUCT_NAME " " CORVA_VERSION));
  if (SameWord(verb, "NETVER") || SameWord(verb, "PROTVER")) return Line(kProtocolVersion);
  if (SameWord(verb, "HELP")) return Line(kHelp);
  if (SameWord(verb, "GET")) return Get(words);
  if (SameWord(verb, "LIST")) return List(words);
  if (SameWord(verb, "USERNAME")) {
    if (args != 1) return Error(err::kInvalidArgument);
    if (session.username) return Error(err::kAlreadySetUsername);
    session.username = words[1];
    return Line("OK");
  }
  if (SameWord(verb, "PASSWORD")) {
    if (args != 1) return Error(err::kInvalidArgument);
    if (session.password) return Error(err::kAlreadySetPassword);
    session.password = words[1];
    return Line("OK");
  }
  if (SameWord(verb, "LOGIN")) return Login(session, words);
  if (SameWord(verb, "LOGOUT")) {
    session.logged_in = false;
    close = true;
    return Line("OK Goodbye");
  }
  // Nothing a client sends changes the monitor, the UPS or the settings.
  for (const char* refused : {"SET", "INSTCMD", "FSD", "PRIMARY", "MASTER"}) {
    if (SameWord(verb, refused)) return Error(err::kAccessDenied);
  }
  if (SameWord(verb, "STARTTLS")) return Error(err::kFeatureNotConfigured);
  return Error(err::kUnknownCommand);
}

std::string NetServerCore::Login(NutSession& session, const std::vector<std::string>& words) {
  if (words.size() != 2) return Error(err::kInvalidArgument);
  if (session.logged_in) return Error(err::kAlreadyLoggedIn);
  if (!session.username) return Error(err::kUsernameRequired);
  if (!session.password) return Error(err::kPasswordRequired);
  // Both comparisons always run, so the answer's timing tells nothing about which one failed.
  const bool name_ok = SecretMatches(settings_.Usuario, *session.username);
  const bool password_ok = SecretMatches(settings_.Clave, *session.password);
  if (!settings_.AccountConfigured() || !(name_ok & password_ok)) {
    return Error(err::kAccessDenied);
  }
  if (!KnownUps(words[1])) return Error(err::kUnknownUps);
  session.logged_in = true;
  return Line("OK");
}

std::string NetServerCore::Get(const std::vector<std::string>& words) {
  if (words.size() < 3) return Error(err::kInvalidArgument);
  const std::string& what = words[1];
  const std::string& ups = words[2];
  const std::string& name = settings_.Nombre;
  const bool with_var = SameWord(what, "VAR") || SameWord(what, "TYPE") || SameWord(what, "DESC");
  const bool ups_only = SameWord(what, "UPSDESC") || SameWord(what, "NUMLOGINS");
  if (!(with_var && words.size() == 4) && !(ups_only && words.size() == 3)) {
    return Error(err::kInvalidArgument);
  }
  if (!KnownUps(ups)) return Error(err::kUnknownUps);
  if (SameWord(what, "UPSDESC")) return Line("UPSDESC " + name + " " + QuotedValue("Corvamon"));
  if (SameWord(what, "NUMLOGINS")) {
    return Line("NUMLOGINS " + name + " " + std::to_string(LoggedInFollowers()));
  }
  const std::string& var = words[3];
  if (SameWord(what, "VAR")) {
    const UpsVariables vars = Variables();
    if (const UpsVariable* v = vars.Find(var)) {
      return Line("VAR " + name + " " + var + " " + QuotedValue(v->value));
    }
    if (vars.stale) return Error(err::kDataStale);
    return Error(err::kVarNotSupported);
  }
  const VariableInfo* info = FindVariableInfo(var);
  if (!info) return Error(err::kVarNotSupported);
  if (SameWord(what, "TYPE")) return Line("TYPE " + name + " " + var + " " + info->type);
  return Line("DESC " + name + " " + var + " " + QuotedValue(info->description));
}

std::string NetServerCore::List(const std::vector<std::string>& words) {
  if (words.size() < 2) return Error(err::kInvalidArgument);
  const std::string& what = words[1];
  const std::string& name = settings_.Nombre;
  if (SameWord(what, "UPS")) {
    if (words.size() != 2) return Error(err::kInvalidArgument);
    return "BEGIN LIST UPS\nUPS " + name + " " + QuotedValue("Corvamon") + "\nEND LIST UPS\n";
  }
  const bool with_var = SameWord(what, "ENUM") || SameWord(what, "RANGE");
  const bool ups_only = SameWord(what, "VAR") || SameWord(what, "CMD") || SameWord(what, "RW") ||
                        SameWord(what, "CLIENT");
  if (!(with_var && words.size() == 4) && !(ups_only && words.size() == 3)) {
    return Error(err::kInvalidArgument);
  }
  if (!KnownUps(words[2])) return Error(err::kUnknownUps);
  std::string kind = what;
  for (char& c : kind) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  std::string query = kind + " " + name;
  if (with_var) query += " " + words[3];
  std::string body;
  if (kind == "VAR") {
    const UpsVariables vars = Variables();
    if (vars.values.empty()) return Error(err::kDataStale);
    for (const UpsVariable& v : vars.values) {
      body += "VAR " + name + " " + v.name + " " + QuotedValue(v.value) + "\n";
    }
  } else if (kind == "CLIENT") {
    for (const auto& session : sessions_) {
      if (session && session->logged_in) body += "CLIENT " + name + " " + session->peer_text + "\n";
    }
  } else if (with_var && !FindVariableInfo(words[3])) {
    return Error(err::kVarNotSupported);
  }
  // No commands, no writable variables, no enumerations or ranges: the server only reads.
  return "BEGIN LIST " + query + "\n" + body + "END LIST " + query + "\n";
}

}  // namespace corva::net
