#pragma once
// The host side of a device while the scan polls one address: its requests
// go onto the line under scan, and the controller notes what the device did
// with each reply it was handed. That is how the scan tells a valid reply
// from anything else without decoding frames itself: a device that took
// its cell reply sends its next request at once, and one that finished a
// round publishes its record.

#include <cstddef>
#include <string>

#include "host/qorv_controller.h"
#include "runner/lines/serial_port.h"

namespace runner::scan {

class ProbeController : public QorvController {
 public:
  explicit ProbeController(SerialPort& port) : port_(port) {}

  // Forgets what the previous device did.
  void Clear();
  // Requests the device put on the line so far.
  std::size_t requests_sent() const { return requests_sent_; }
  // The device published a record: it completed a round.
  bool published() const { return published_; }
  // Set when a write failed: the line is gone (an adapter unplugged).
  const std::string& line_error() const { return line_error_; }

  // --- QorvController ---
  int SendData(QorvSPDevice& device, const unsigned char* data, unsigned len) override;
  // A scanned device has no peers to ask.
  float Get_SP_Value(unsigned data_id, const std::string& name) override;
  void SendSP(QorvVDevice& device, int type_code, const unsigned char* data, unsigned len,
              bool flag) override;

 private:
  SerialPort& port_;
  std::size_t requests_sent_ = 0;
  bool published_ = false;
  std::string line_error_;
};

}  // namespace runner::scan
