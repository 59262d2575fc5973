#include "nut_server.h"

#include <windows.h>

#include <array>
#include <cstring>
#include <optional>
#include <utility>

#include "ip_address.h"
#include "nut_server_core.h"
#include "socket_handle.h"

namespace corva::net::win {

using corva::win::unique_socket;
using corva::win::winsock_session;

namespace {

std::optional<IpAddress> AddressOf(const sockaddr_storage& storage) {
  if (storage.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(storage);
    const auto* b = reinterpret_cast<const std::uint8_t*>(&in.sin_addr);
    return IpAddress::V4(b[0], b[1], b[2], b[3]);
  }
  if (storage.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
    std::array<std::uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), &in6.sin6_addr, bytes.size());
    return IpAddress::V6(bytes);
  }
  return std::nullopt;
}

int SockaddrOf(const IpAddress& ip, std::uint16_t port, sockaddr_storage& storage) {
  storage = {};
  if (!ip.v6) {
    auto& in = reinterpret_cast<sockaddr_in&>(storage);
    in.sin_family = AF_INET;
    in.sin_port = ::htons(port);
    std::memcpy(&in.sin_addr, ip.bytes.data(), 4);
    return sizeof(sockaddr_in);
  }
  auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
  in6.sin6_family = AF_INET6;
  in6.sin6_port = ::htons(port);
  std::memcpy(&in6.sin6_addr, ip.bytes.data(), 16);
  return sizeof(sockaddr_in6);
}

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

struct Client {
  unique_socket socket;
  std::string output;
  bool closing = false;
};

}  // namespace

std::string ListenFailure::Text() const {
  return "No se puede escuchar en " + address + " puerto " + std::to_string(port) + " (error " +
         std::to_string(error) + ")";
}

// Everything the network thread owns. Created by Start on the caller's thread, then touched only
// by the network thread until it ends.
struct NutServer::Loop {
  explicit Loop(const NetworkSettings& settings) : core(settings, &NutServer::Now) {}

  winsock_session winsock;
  std::vector<unique_socket> listeners;
  // A datagram to this socket wakes the loop (to stop it).
  unique_socket wake_in;
  unique_socket wake_out;
  NetServerCore core;
  std::array<Client, kMaxClients> clients;
  std::uint64_t seen_version = 0;
};

NutServer::NutServer(NetworkSettings settings) : settings_(std::move(settings)) {}

NutServer::~NutServer() {
  Stop();
}

Millis NutServer::Now() {
  return static_cast<Millis>(::GetTickCount64());
}

StartResult NutServer::Start() {
  StartResult result;
  // With Servidor off nothing listens.
  if (loop_ || !settings_.Servidor) return result;
  auto loop = std::make_unique<Loop>(settings_);
  if (!loop->winsock.ok()) {
    result.failures.push_back({"Winsock", settings_.Puerto, loop->winsock.error()});
    return result;
  }

  // Empty Escucha: every IPv4 and every IPv6 address, on two sockets (IPv6 only on the second,
  // so each family has its own port binding). A system without IPv6 is not a failure.
  std::vector<IpAddress> addresses = settings_.Escucha;
  const bool every_address = addresses.empty();
  if (every_address) addresses = {IpAddress::V4(0, 0, 0, 0), IpAddress::V6({})};
  for (const IpAddress& ip : addresses) {
    const auto fail = [&](int error) {
      if (every_address && ip.v6 && (error == WSAEAFNOSUPPORT || error == WSAEADDRNOTAVAIL)) return;
      result.failures.push_back({IpAddressText(ip), settings_.Puerto, error});
    };
    unique_socket s(::socket(ip.v6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) {
      fail(::WSAGetLastError());
      continue;
    }
    if (ip.v6) {
      DWORD only = 1;
      ::setsockopt(s.get(), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only),
                   sizeof only);
    }
    sockaddr_storage where{};
    const int length = SockaddrOf(ip, settings_.Puerto, where);
    if (::bind(s.get(), reinterpret_cast<const sockaddr*>(&where), length) != 0 ||
        ::listen(s.get(), SOMAXCONN) != 0 || !SetNonBlocking(s.get())) {
      fail(::WSAGetLastError());
      continue;
    }
    if (bound_port_ == 0) {
      sockaddr_storage bound{};
      int size = sizeof bound;
      if (::getsockname(s.get(), reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
        bound_port_ = ::ntohs(bound.ss_family == AF_INET
                                  ? reinterpret_cast<const sockaddr_in&>(bound).sin_port
                                  : reinterpret_cast<const sockaddr_in6&>(bound).sin6_port);
      }
    }
    loop->listeners.push_back(std::move(s));
  }

  // The wake-up pair: a datagram socket on the loopback address and one connected to it.
  loop->wake_in.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  loop->wake_out.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  sockaddr_storage wake{};
  int wake_length = SockaddrOf(IpAddress::V4(127, 0, 0, 1), 0, wake);
  const bool wake_ok =
      loop->wake_in && loop->wake_out &&
      ::bind(loop->wake_in.get(), reinterpret_cast<const sockaddr*>(&wake), wake_length) == 0 &&
      ::getsockname(loop->wake_in.get(), reinterpret_cast<sockaddr*>(&wake), &wake_length) == 0 &&
      ::connect(loop->wake_out.get(), reinterpret_cast<const sockaddr*>(&wake), wake_length) == 0 &&
      SetNonBlocking(loop->wake_in.get());
  if (!wake_ok) {
    result.failures.push_back({"127.0.0.1", 0, ::WSAGetLastError()});
    loop->listeners.clear();
  }

  if (loop->listeners.empty()) return result;
  result.listening = true;
  loop_ = std::move(loop);
  thread_ = std::thread([this] { Run(); });
  return result;
}

void NutServer::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  const char byte = 0;
  ::send(loop_->wake_out.get(), &byte, 1, 0);
  thread_.join();
  loop_.reset();
  logged_in_ = 0;
  clients_ = 0;
}

void NutServer::Publish(const UpsSnapshot& ups) {
  std::lock_guard lock(mutex_);
  snapshot_ = ups;
  ++version_;
}

void NutServer::MarkForcedShutdown() {
  std::lock_guard lock(mutex_);
  forced_shutdown_ = true;
  ++version_;
}

void NutServer::ClearForcedShutdown() {
  std::lock_guard lock(mutex_);
  forced_shutdown_ = false;
  ++version_;
}

void NutServer::Run() {
  Loop& loop = *loop_;
  std::vector<WSAPOLLFD> fds;
  // What each entry of `fds` is: -1 the wake socket, -2 - i listener i, else a client's slot.
  std::vector<int> roles;

  // The counts the monitor reads change before anything is sent, so a client that has its
  // answer finds them up to date.
  const auto update_counts = [&] {
    logged_in_ = loop.core.LoggedInFollowers();
    clients_ = loop.core.ClientCount();
  };
  const auto close_client = [&](int slot) {
    loop.clients[slot] = Client{};
    loop.core.Disconnect(slot);
    update_counts();
  };
  const auto flush = [&](int slot) {
    Client& c = loop.clients[slot];
    while (!c.output.empty()) {
      const int chunk = static_cast<int>(std::min<std::size_t>(c.output.size(), 64 * 1024));
      const int sent = ::send(c.socket.get(), c.output.data(), chunk, 0);
      if (sent > 0) {
        c.output.erase(0, static_cast<std::size_t>(sent));
        continue;
      }
      if (sent < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) break;
      close_client(slot);
      return;
    }
    if (c.closing && c.output.empty()) close_client(slot);
  };
  const auto take_snapshot = [&] {
    std::lock_guard lock(mutex_);
    if (version_ == loop.seen_version) return;
    loop.seen_version = version_;
    loop.core.Publish(snapshot_);
    if (forced_shutdown_) {
      loop.core.MarkForcedShutdown();
    } else {
      loop.core.ClearForcedShutdown();
    }
  };

  while (!stopping_) {
    fds.clear();
    roles.clear();
    fds.push_back({loop.wake_in.get(), POLLRDNORM, 0});
    roles.push_back(-1);
    for (std::size_t i = 0; i < loop.listeners.size(); ++i) {
      fds.push_back({loop.listeners[i].get(), POLLRDNORM, 0});
      roles.push_back(-2 - static_cast<int>(i));
    }
    for (int slot = 0; slot < kMaxClients; ++slot) {
      const Client& c = loop.clients[slot];
      if (!c.socket) continue;
      SHORT events = c.closing ? 0 : POLLRDNORM;
      if (!c.output.empty()) events |= POLLWRNORM;
      fds.push_back({c.socket.get(), events, 0});
      roles.push_back(slot);
    }
    if (::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), -1) == SOCKET_ERROR) break;

    for (std::size_t i = 0; i < fds.size(); ++i) {
      const SHORT happened = fds[i].revents;
      if (happened == 0) continue;
      const int role = roles[i];
      if (role == -1) {
        char drain[16];
        while (::recv(loop.wake_in.get(), drain, sizeof drain, 0) > 0) {
        }
        continue;
      }
      if (role <= -2) {
        // Every waiting connection: refused ones are closed at once, with no reply.
        while (true) {
          sockaddr_storage peer{};
          int size = sizeof peer;
          unique_socket s(::accept(fds[i].fd, reinterpret_cast<sockaddr*>(&peer), &size));
          if (!s) break;
          const auto ip = AddressOf(peer);
          if (!ip || !SetNonBlocking(s.get())) continue;
          const auto admitted = loop.core.Admit(*ip);
          if (admitted.result != NetServerCore::Admission::Accepted) continue;
          loop.clients[admitted.slot] = Client{std::move(s), {}, false};
          update_counts();
        }
        continue;
      }
      const int slot = role;
      Client& c = loop.clients[slot];
      if (!c.socket || c.socket.get() != fds[i].fd) continue;
      if (c.closing && (happened & (POLLHUP | POLLERR))) {
        close_client(slot);
        continue;
      }
      // A connection that is ending is not read any more: its last answer is all it gets.
      if (!c.closing && (happened & (POLLRDNORM | POLLHUP | POLLERR))) {
        char buffer[4096];
        const int got = ::recv(c.socket.get(), buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK)) {
          close_client(slot);
          continue;
        }
        if (got > 0) {
          take_snapshot();
          auto reply =
              loop.core.Receive(slot, std::string_view(buffer, static_cast<std::size_t>(got)));
          c.output += reply.output;
          c.closing = reply.close;
          update_counts();
          if (c.output.size() > kMaxPendingOutput) {
            close_client(slot);
            continue;
          }
        }
      }
      if (c.socket && (!c.output.empty() || c.closing)) flush(slot);
    }
  }
  for (int slot = 0; slot < kMaxClients; ++slot) close_client(slot);
}

}  // namespace corva::net::win
