#include "runner/lines/serial_line.h"

#include <algorithm>
#include <utility>

namespace runner {

SerialLine::SerialLine(std::string name, std::string path, std::vector<DeviceSlot*> devices,
                       LineTiming timing, EventLog& events, PortOpener open_port, Clock clock)
    : name_(std::move(name)),
      path_(std::move(path)),
      devices_(std::move(devices)),
      timing_(timing),
      events_(events),
      open_port_(std::move(open_port)),
      clock_(std::move(clock)),
      turns_(devices_.size(), timing.reply_timeout),
      backoff_(timing.retry_first) {}

void SerialLine::Open(int baud) {
  baud_ = baud;
  backoff_ = timing_.retry_first;
  TryOpen();
}

bool SerialLine::TryOpen() {
  std::unique_ptr<LinePort> port = open_port_(path_, baud_);
  if (!port || !port->is_open()) {
    Lose(port ? port->error() : path_ + ": cannot open");
    return false;
  }
  port_ = std::move(port);
  down_why_.clear();
  backoff_ = timing_.retry_first;
  turns_.Reset();
  if (down_reported_)
    events_.Add("port " + name_ + ": " + path_ + " is back; online again: " + DeviceNames());
  down_reported_ = false;
  return true;
}

bool SerialLine::RetryDue(TimePoint now) const {
  return !up() && !devices_.empty() && now >= retry_at_;
}

int SerialLine::Write(std::size_t seat, const unsigned char* data, unsigned len) {
  if (!usable()) return -1;
  if (!port_->Write(data, len)) {
    lost_ = port_->error();
    return -1;
  }
  // The reply time counts from the frame's last byte handed over.
  turns_.Sent(seat, clock_());
  return static_cast<int>(len);
}

LinePort::ReadStatus SerialLine::Read(std::vector<unsigned char>& bytes, bool hung_up) {
  bytes.clear();
  if (!port_) return LinePort::ReadStatus::kGone;
  const LinePort::ReadStatus status = port_->Read(bytes);
  if (status == LinePort::ReadStatus::kGone)
    lost_ = port_->error();
  else if (bytes.empty() && hung_up)
    lost_ = path_ + ": line hung up";
  return status;
}

void SerialLine::DiscardInput() {
  if (port_) port_->DiscardInput();
}

void SerialLine::CheckLost() {
  if (!lost_.empty()) Lose(lost_);
}

// `why` is taken by value: CheckLost passes `lost_`, which is cleared here.
void SerialLine::Lose(std::string why) {
  port_.reset();
  turns_.Reset();
  lost_.clear();
  retry_at_ = clock_() + backoff_;
  backoff_ = std::min(backoff_ * 2, timing_.retry_most);
  down_why_ = why;
  if (down_reported_) return;
  down_reported_ = true;
  events_.Add("port " + name_ + ": " + why + "; offline: " + DeviceNames() + "; retrying");
}

std::string SerialLine::DeviceNames() const {
  std::string names;
  for (const DeviceSlot* slot : devices_)
    names += (names.empty() ? "" : ", ") + slot->settings.name;
  return names;
}

void SerialLine::Reseat(std::vector<DeviceSlot*> devices, BusTurns turns) {
  devices_ = std::move(devices);
  turns_ = turns;
}

void SerialLine::Close() {
  port_.reset();
  turns_.Reset();
  baud_ = 0;
  backoff_ = std::chrono::milliseconds(0);
  retry_at_ = {};
  down_reported_ = false;
  down_why_.clear();
  lost_.clear();
}

}  // namespace runner
