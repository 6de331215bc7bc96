#pragma once
// One serial line of the host and the devices on it: its port, the turns
// on its bus, and its life. A line is opened at the speed of its devices;
// it is lost when a write or a read finds it gone, or refused while another
// program holds it; it is then retried after a back-off that doubles from
// the first delay up to the longest, for as long as the host runs, and
// comes back. Each outage and each recovery is told to the event log once,
// however often the line was retried in between.
//
//   SerialLine line(name, path, devices, timing, events, OpenSerialPort, clock);
//   line.Open(19200);                       // a failure is told and retried
//   line.Write(seat, frame, len);           // from the device's SendData
//   line.CheckLost();                       // after the call: a failed write takes it down
//   if (line.RetryDue(now)) line.TryOpen();
//
// A failed write or read only marks the line lost: the device that caused
// it is still inside its call. CheckLost() takes the line down afterwards.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runner/lines/bus_turns.h"
#include "runner/lines/device_slot.h"
#include "runner/lines/event_log.h"
#include "runner/lines/line_port.h"

namespace runner {

struct LineTiming {
  std::chrono::milliseconds reply_timeout{0};   // a turn ends when no reply comes in this time
  std::chrono::milliseconds retry_first{1000};  // a lost line is retried after this,
  std::chrono::milliseconds retry_most{30000};  // doubling up to this
};

class SerialLine {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Clock = std::function<TimePoint()>;

  // `devices` in site order: a device's seat is its index here. `name` is
  // the site's name of the port, for the event log.
  SerialLine(std::string name, std::string path, std::vector<DeviceSlot*> devices,
             LineTiming timing, EventLog& events, PortOpener open_port, Clock clock);

  // The first opening, at `baud` bit/s.
  void Open(int baud);
  // Opens the port again; true when the line is up. A line that cannot be
  // opened counts as lost.
  bool TryOpen();
  // The line is down, has devices, and its next attempt is due at `now`.
  bool RetryDue(TimePoint now) const;

  // Puts a device's frame on the line and gives it the turn: the count
  // written, or -1 when the line is down or was just lost.
  int Write(std::size_t seat, const unsigned char* data, unsigned len);
  // Reads what arrived. A line gone, or one that hung up (`hung_up`, from
  // poll()) with nothing to read, is marked lost.
  LinePort::ReadStatus Read(std::vector<unsigned char>& bytes, bool hung_up);
  // Drops input nobody is waiting for any longer.
  void DiscardInput();
  // Takes a line that a write or read marked lost down: told, retried later.
  void CheckLost();
  // Bytes that arrived while no device held the line.
  void CountStray(std::size_t n) { stray_bytes_ += n; }

  // After a site reload: the line's devices now, in site order, and their
  // turns (carried over for the devices that stayed).
  void Reseat(std::vector<DeviceSlot*> devices, BusTurns turns);
  // Closes the port and forgets the line's life: it is opened afresh.
  void Close();
  // The speed it was opened at; 0 before the first opening or after Close().
  int baud() const { return baud_; }

  bool up() const { return port_ && port_->is_open(); }
  // Up and not lost in the call under way: ticks may run.
  bool usable() const { return up() && lost_.empty(); }
  int fd() const { return port_ ? port_->fd() : -1; }
  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }
  // Why the line is down ("" while it is up or was never tried).
  const std::string& down_why() const { return down_why_; }
  TimePoint retry_at() const { return retry_at_; }
  std::uint64_t stray_bytes() const { return stray_bytes_; }
  const std::vector<DeviceSlot*>& devices() const { return devices_; }
  BusTurns& turns() { return turns_; }
  const BusTurns& turns() const { return turns_; }

 private:
  void Lose(std::string why);
  std::string DeviceNames() const;

  std::string name_;
  std::string path_;  // opened from; a simulator's pseudo-terminal
  std::vector<DeviceSlot*> devices_;
  LineTiming timing_;
  EventLog& events_;
  PortOpener open_port_;
  Clock clock_;
  BusTurns turns_;
  int baud_ = 0;
  std::unique_ptr<LinePort> port_;  // open while the line is up
  TimePoint retry_at_{};
  std::chrono::milliseconds backoff_{0};
  bool down_reported_ = false;
  std::string down_why_;
  std::string lost_;  // why a write or read found the line gone, until CheckLost
  std::uint64_t stray_bytes_ = 0;
};

}  // namespace runner
