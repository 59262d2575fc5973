#pragma once
// Winsock resources owned the way every other Windows resource is: a socket closed once, and a
// Winsock start-up ended once.

#include <winsock2.h>
#include <ws2tcpip.h>

#include "unique_resource.h"

namespace corva::win {

using unique_socket = unique_resource<simple_traits<SOCKET, ::closesocket, INVALID_SOCKET>>;

// WSAStartup for the lifetime of the object; WSACleanup only when it started.
class winsock_session {
 public:
  winsock_session() noexcept {
    WSADATA data{};
    error_ = ::WSAStartup(MAKEWORD(2, 2), &data);
  }
  winsock_session(const winsock_session&) = delete;
  winsock_session& operator=(const winsock_session&) = delete;
  ~winsock_session() {
    if (error_ == 0) ::WSACleanup();
  }
  bool ok() const noexcept { return error_ == 0; }
  int error() const noexcept { return error_; }

 private:
  int error_ = 0;
};

}  // namespace corva::win
