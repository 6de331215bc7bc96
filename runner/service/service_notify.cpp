#include "runner/service/service_notify.h"

#include <algorithm>
#include <cstdlib>

#include <systemd/sd-daemon.h>

namespace runner::service {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

ServiceNotify::ServiceNotify() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  active_ = socket != nullptr && *socket != '\0';
  if (!active_) return;
  std::uint64_t usec = 0;
  // Zero or less: no watchdog, or one kept for another process (WATCHDOG_PID).
  if (sd_watchdog_enabled(0, &usec) > 0) watchdog_ = microseconds(usec);
}

milliseconds ServiceNotify::LongestWait(milliseconds usual) const {
  if (watchdog_.count() == 0) return usual;
  return std::clamp(duration_cast<milliseconds>(watchdog_ / 4), milliseconds(1), usual);
}

void ServiceNotify::Ready() { Send("READY=1"); }

void ServiceNotify::Stopping() { Send("STOPPING=1"); }

void ServiceNotify::Beat(Clock::time_point now) {
  if (!active_) return;
  if (watchdog_.count() != 0 && now - last_ping_ >= watchdog_ / 2) {
    Send("WATCHDOG=1");
    last_ping_ = now;
  }
  if (!held_status_.empty()) Status(held_status_, now);
}

void ServiceNotify::Status(const std::string& text, Clock::time_point now) {
  if (!active_) return;
  if (status_sent_ && text == sent_status_) {
    held_status_.clear();
    return;
  }
  if (status_sent_ && now - last_status_ < std::chrono::seconds(1)) {
    held_status_ = text;
    return;
  }
  Send("STATUS=" + text);
  sent_status_ = text;
  held_status_.clear();
  status_sent_ = true;
  last_status_ = now;
}

void ServiceNotify::Send(const std::string& state) {
  if (active_) sd_notify(0, state.c_str());
}

std::string StatusLine(unsigned rounds, std::size_t active_alarms) {
  return "rounds " + std::to_string(rounds) + ", " +
         (active_alarms == 0 ? std::string("no alarms")
                             : std::to_string(active_alarms) +
                                   (active_alarms == 1 ? " alarm active" : " alarms active"));
}

}  // namespace runner::service
