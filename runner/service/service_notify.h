#pragma once
// What systemd learns of a Type=notify service: ready once the lines are
// open, a watchdog ping from the poll thread, a one-line status, and the
// stop beginning. Started by anything else (no NOTIFY_SOCKET), every call
// does nothing.
//
// Beat() and Status() belong to the poll thread: a ping sent from any other
// thread would keep a stalled loop alive.

#include <chrono>
#include <string>

namespace runner::service {

class ServiceNotify {
 public:
  using Clock = std::chrono::steady_clock;

  // Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID.
  ServiceNotify();

  bool active() const { return active_; }
  // The watchdog's interval; zero when systemd keeps none for this process.
  std::chrono::microseconds watchdog() const { return watchdog_; }
  // How long the poll loop may sleep so that pings still come on time: a
  // quarter of the interval, never more than `usual`.
  std::chrono::milliseconds LongestWait(std::chrono::milliseconds usual) const;

  void Ready();
  void Stopping();
  // Each turn of the poll loop: pings once half the interval has passed
  // since the last ping, and sends a status held back by Status().
  void Beat(Clock::time_point now);
  // A changed status goes out at most once a second; a newer one replaces
  // one still held back.
  void Status(const std::string& text, Clock::time_point now);

 private:
  void Send(const std::string& state);

  bool active_ = false;
  std::chrono::microseconds watchdog_{0};
  Clock::time_point last_ping_{};
  Clock::time_point last_status_{};
  bool status_sent_ = false;
  std::string sent_status_;
  std::string held_status_;
};

// "rounds 12, 2 alarms active": the status line of a running site.
std::string StatusLine(unsigned rounds, std::size_t active_alarms);

}  // namespace runner::service
