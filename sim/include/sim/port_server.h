#pragma once
// Serves a Bus on a serial line: a pseudo-terminal that it creates, or a
// real serial device (raw 8N1 at 19200 bit/s), so a device under test, a
// reference host or a real controller on a USB-serial adapter talks to the
// simulated monitors exactly as it would to real ones.
//
//   auto server = sim::PortServer::CreatePty(std::move(bus));
//   host.OpenPort(server->Path());   // e.g. /dev/pts/7
//   server->Start();                 // background thread ... server->Stop();
//
// or, on the caller's own loop: while (server->RunOnce(100ms)) {}
//
// Reply chunks go out at their scheduled times (delays, split gaps, paced
// bytes); requests heard meanwhile are queued behind them, as on a
// half-duplex line. Errors opening or serving the port throw
// std::system_error naming the path.

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/bus.h"
#include "sim/counters.h"
#include "sim/exchange.h"

namespace sim {

class PortServer {
 public:
  // A new pseudo-terminal in raw mode; Path() is the side a device opens.
  static std::unique_ptr<PortServer> CreatePty(Bus bus);
  // An existing serial device, set to raw 8N1 at 19200 bit/s.
  static std::unique_ptr<PortServer> OpenSerial(const std::string& path, Bus bus);

  ~PortServer();  // stops the thread and closes the port
  PortServer(const PortServer&) = delete;
  PortServer& operator=(const PortServer&) = delete;

  const std::string& Path() const { return path_; }

  // Called with every exchange on the serving thread. Set before Start().
  void SetListener(std::function<void(const Exchange&)> listener);

  // Serves on a background thread until Stop(); both are idempotent.
  void Start();
  void Stop();

  // One turn of the caller's loop: sends what is due, waits up to `max_wait`
  // for request bytes and answers them. False once Stop() was called.
  bool RunOnce(std::chrono::milliseconds max_wait);

  // A snapshot, safe from any thread.
  Counters counters() const;
  // What ended the background thread early, empty while all is well.
  std::string Error() const;

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Pending {
    TimePoint due;
    Bytes bytes;
  };

  PortServer(int fd, int held_fd, std::string path, Bus bus);
  void Schedule(const std::vector<Chunk>& chunks, TimePoint heard_at);
  void WriteDue();
  void ReadRequests();

  int fd_;       // the port we serve
  int held_fd_;  // pty only: our own handle on the device side, keeping it raw and open
  int wake_[2] = {-1, -1};
  std::string path_;
  mutable std::mutex mutex_;  // guards bus_ and error_
  Bus bus_;
  std::string error_;
  std::deque<Pending> pending_;
  TimePoint line_free_at_{};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace sim
