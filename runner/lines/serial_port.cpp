#include "runner/lines/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace runner {
namespace {

struct Speed {
  int baud;
  speed_t code;
};
constexpr Speed kSpeeds[] = {{1200, B1200},   {2400, B2400},     {4800, B4800},
                             {9600, B9600},   {19200, B19200},   {38400, B38400},
                             {57600, B57600}, {115200, B115200}, {230400, B230400}};

bool SpeedCode(int baud, speed_t& code) {
  for (const Speed& s : kSpeeds)
    if (s.baud == baud) {
      code = s.code;
      return true;
    }
  return false;
}

// A short write waits this long for room on the line before giving up.
constexpr int kWriteWaitMs = 100;

}  // namespace

SerialPort::SerialPort(std::string path, int baud) : path_(std::move(path)) {
  speed_t speed;
  if (!SpeedCode(baud, speed)) {
    error_ = path_ + ": unsupported speed " + std::to_string(baud) + " bit/s";
    return;
  }
  fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0 && errno == EBUSY) {  // held in exclusive mode
    const std::string holder = DescribeLineHolder(path_);
    error_ = path_ + " is in use by " + (holder.empty() ? "another program" : holder);
    return;
  }
  if (fd_ < 0) {
    Fail("cannot open");
    return;
  }
  std::string holder;
  if (!lock_.Take(fd_, path_, holder)) {
    error_ = path_ + " is in use by " + holder;
    ::close(fd_);
    fd_ = -1;
    return;
  }
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) {
    Fail("not a serial line");
    return;
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  // With O_NONBLOCK, VMIN 1 makes an empty line read as EAGAIN and keeps
  // a read of 0 for a hang-up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
    Fail("cannot set 8N1");
    return;
  }
  tcflush(fd_, TCIOFLUSH);
}

SerialPort::~SerialPort() {
  lock_.Release();
  if (fd_ >= 0) ::close(fd_);
}

void SerialPort::Fail(const std::string& what) {
  error_ = path_ + ": " + what + ": " + std::strerror(errno);
  lock_.Release();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool SerialPort::Write(const unsigned char* data, std::size_t len) {
  if (fd_ < 0) return false;
  std::size_t done = 0;
  while (done < len) {
    const ssize_t n = ::write(fd_, data + done, len - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      error_ = path_ + ": write failed: " + std::strerror(errno);
      return false;
    }
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, kWriteWaitMs) <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
      error_ = path_ + ": write stalled";
      return false;
    }
  }
  return true;
}

SerialPort::ReadStatus SerialPort::Read(std::vector<unsigned char>& out) {
  out.clear();
  if (fd_ < 0) return ReadStatus::kGone;
  unsigned char buffer[256];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      out.insert(out.end(), buffer, buffer + n);
      if (static_cast<std::size_t>(n) < sizeof buffer) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    // 0 on a serial line means hang-up; EIO is a pseudo-terminal whose
    // other side has closed, or an adapter that went away.
    if (out.empty()) {
      error_ = path_ + ": " + (n == 0 ? std::string("line hung up") : std::strerror(errno));
      return ReadStatus::kGone;
    }
    break;
  }
  return out.empty() ? ReadStatus::kNothing : ReadStatus::kData;
}

void SerialPort::DiscardInput() {
  if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
}

std::unique_ptr<LinePort> OpenSerialPort(const std::string& path, int baud) {
  return std::make_unique<SerialPort>(path, baud);
}

}  // namespace runner
