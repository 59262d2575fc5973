#pragma once
// The NUT network server of Corvamon: its own thread, non-blocking sockets and WSAPoll. The
// monitor publishes a snapshot after each decoded frame or link change, marks the decided
// shutdown and asks how many followers are logged in; none of these waits on the network thread
// beyond a short copy under a lock.
//
// The monitor feeds it through a MonitorFeed (monitor_feed.h), which stamps each frame with
// NutServer::Now() and lets the shutdown sequence wait, messages running, for the followers.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor_feed.h"
#include "net_settings.h"
#include "ups_variables.h"

namespace corva::net::win {

// What a client may have waiting to be sent; a client that lets more pile up (it never reads)
// is dropped.
inline constexpr std::size_t kMaxPendingOutput = 64 * 1024;

// An address the server could not listen on, with the system's error number.
struct ListenFailure {
  std::string address;
  std::uint16_t port = 0;
  int error = 0;
  // "No se puede escuchar en 0.0.0.0 puerto 3493 (error 10048)", for the debug output.
  std::string Text() const;
};

struct StartResult {
  // At least one address listens; the server thread runs.
  bool listening = false;
  std::vector<ListenFailure> failures;
};

class NutServer final : public SnapshotSink {
 public:
  // `settings.Puerto` 0 (never read from the file) lets the system choose a free port.
  explicit NutServer(NetworkSettings settings);
  NutServer(const NutServer&) = delete;
  NutServer& operator=(const NutServer&) = delete;
  // Stops the thread and closes every socket.
  ~NutServer() override;

  // Opens the listening sockets and starts the thread; does nothing with Servidor off. Call once.
  StartResult Start();
  // Ends the thread (clients are disconnected); safe to call more than once.
  void Stop();

  void Publish(const UpsSnapshot& ups) override;
  void MarkForcedShutdown() override;
  void ClearForcedShutdown() override;
  int LoggedInFollowers() const override { return logged_in_.load(); }
  int ClientCount() const { return clients_.load(); }
  // The port the first listening socket is bound to (0 before Start).
  std::uint16_t BoundPort() const { return bound_port_; }

  // The clock of the snapshots' times: milliseconds since the system started.
  static Millis Now();

 private:
  struct Loop;
  void Run();

  NetworkSettings settings_;
  std::unique_ptr<Loop> loop_;
  std::thread thread_;
  std::uint16_t bound_port_ = 0;

  // Handed from the monitor to the network thread.
  std::mutex mutex_;
  UpsSnapshot snapshot_;
  bool forced_shutdown_ = false;
  std::uint64_t version_ = 0;

  std::atomic<bool> stopping_{false};
  std::atomic<int> logged_in_{0};
  std::atomic<int> clients_{0};
};

}  // namespace corva::net::win
