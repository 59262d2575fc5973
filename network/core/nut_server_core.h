#pragma once
// The NUT server without its sockets: the clients' sessions, what each command line answers, and
// how many followers are logged in. The Winsock layer hands it accepted peers and received bytes
// and sends what it answers; the monitor's readings reach it as snapshots.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ip_address.h"
#include "net_settings.h"
#include "ups_variables.h"

namespace corva::net {

// At most this many clients at once; further connections are closed at once.
inline constexpr int kMaxClients = 32;

// One client connection: its address, the account words it sent and whether it logged in.
struct NutSession {
  IpAddress peer;
  std::string peer_text;
  std::optional<std::string> username;
  std::optional<std::string> password;
  bool logged_in = false;
  // Bytes of a line whose newline has not arrived yet.
  std::string pending;
};

class NetServerCore {
 public:
  using Clock = std::function<Millis()>;

  NetServerCore(NetworkSettings settings, Clock clock);

  enum class Admission { Accepted, NotAllowed, Full };
  struct Admitted {
    Admission result = Admission::Full;
    int slot = -1;  // 0..kMaxClients-1 when accepted; a closed slot is used again
  };
  // A new connection from `peer`: refused without a reply when Permitidos leaves it out or when
  // every slot is taken.
  Admitted Admit(const IpAddress& peer);

  struct Reply {
    std::string output;
    // The connection ends once the output is sent (LOGOUT, a line too long).
    bool close = false;
  };
  // Bytes received on `slot`: every complete line is answered in order.
  Reply Receive(int slot, std::string_view bytes);
  // The connection on `slot` is gone (closed by either side); its login ends.
  void Disconnect(int slot);

  // The monitor's latest readings. A decided shutdown stays marked even when a later snapshot
  // does not say so, until it is cleared (the computer woke from its hibernation).
  void Publish(const UpsSnapshot& ups);
  void MarkForcedShutdown() { forced_shutdown_ = true; }
  void ClearForcedShutdown() { forced_shutdown_ = false; }

  int LoggedInFollowers() const;
  int ClientCount() const;
  const NetworkSettings& Settings() const { return settings_; }

 private:
  std::string Execute(NutSession& session, const std::vector<std::string>& words, bool& close);
  std::string Get(const std::vector<std::string>& words);
  std::string List(const std::vector<std::string>& words);
  std::string Login(NutSession& session, const std::vector<std::string>& words);
  UpsVariables Variables() const;
  bool KnownUps(std::string_view name) const;

  NetworkSettings settings_;
  Clock clock_;
  UpsSnapshot ups_;
  bool forced_shutdown_ = false;
  std::array<std::optional<NutSession>, kMaxClients> sessions_;
};

}  // namespace corva::net
