#pragma once
// A serial line the host owns: raw 8N1 at the device's speed, non-blocking,
// for the host's poll() loop. Works the same on a USB-serial adapter, an
// on-board UART and the pseudo-terminal of a simulated monitor.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runner/lines/line_lock.h"
#include "runner/lines/line_port.h"

namespace runner {

class SerialPort final : public LinePort {
 public:
  // Opens `path`, claims it exclusively (line_lock.h) and sets it to raw
  // 8N1 at `baud` bit/s, with no flow control, no modem-line waits and
  // non-blocking reads. On failure the port is closed and error() says why
  // ("/dev/ttyUSB0: cannot open: No such file or directory", "/dev/ttyUSB0
  // is in use by pid 1234 (minicom)").
  SerialPort(std::string path, int baud);
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  bool is_open() const override { return fd_ >= 0; }
  int fd() const override { return fd_; }
  const std::string& path() const { return path_; }
  const std::string& error() const override { return error_; }

  bool Write(const unsigned char* data, std::size_t len) override;
  // kGone: the adapter was unplugged, the simulator stopped; error() says how.
  ReadStatus Read(std::vector<unsigned char>& out) override;
  void DiscardInput() override;

 private:
  void Fail(const std::string& what);

  std::string path_;
  int fd_ = -1;
  LineLock lock_;
  std::string error_;
};

// The PortOpener of the host's lines: a SerialPort.
std::unique_ptr<LinePort> OpenSerialPort(const std::string& path, int baud);

}  // namespace runner
