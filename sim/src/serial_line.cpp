#include "serial_line.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace sim::internal {
namespace {

constexpr speed_t kLineSpeed = B19200;

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Raw 8N1: no echo, no line editing, no CR/LF mapping, reads return
// whatever has arrived.
void MakeRaw(int fd, const std::string& path) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) Fail("tcgetattr " + path);
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, kLineSpeed) != 0 || cfsetospeed(&tio, kLineSpeed) != 0) {
    Fail("cfsetspeed " + path);
  }
  if (tcsetattr(fd, TCSANOW, &tio) != 0) Fail("tcsetattr " + path);
}

}  // namespace

PtyPair OpenRawPty() {
  PtyPair pty;
  pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.master < 0) Fail("posix_openpt");
  char name[128];
  if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 ||
      ptsname_r(pty.master, name, sizeof name) != 0) {
    const int saved = errno;
    close(pty.master);
    errno = saved;
    Fail("pseudo-terminal set-up");
  }
  pty.path = name;
  pty.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.slave < 0) {
    close(pty.master);
    Fail("open " + pty.path);
  }
  try {
    MakeRaw(pty.slave, pty.path);
  } catch (...) {
    close(pty.slave);
    close(pty.master);
    throw;
  }
  fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
  return pty;
}

int OpenSerialDevice(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Fail("open " + path);
  try {
    MakeRaw(fd, path);
  } catch (...) {
    close(fd);
    throw;
  }
  tcflush(fd, TCIOFLUSH);
  return fd;
}

}  // namespace sim::internal
