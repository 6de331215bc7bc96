#pragma once
// A serial line the host owns: raw 8N1 at the device's speed, non-blocking,
// for the host's poll() loop. Works the same on a USB-serial adapter, an
// on-board UART and the pseudo-terminal of a simulated monitor.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runner/lines/line_lock.h"

namespace runner {

class SerialPort {
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

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }

  // Writes the whole frame; false (with error()) when the line is gone.
  bool Write(const unsigned char* data, std::size_t len);

  enum class ReadStatus { kData, kNothing, kGone };
  // Reads what has arrived, without waiting. kGone: the line has gone away
  // (adapter unplugged, simulator stopped); error() says how.
  ReadStatus Read(std::vector<unsigned char>& out);

  // Drops whatever input is waiting.
  void DiscardInput();

 private:
  void Fail(const std::string& what);

  std::string path_;
  int fd_ = -1;
  LineLock lock_;
  std::string error_;
};

}  // namespace runner
