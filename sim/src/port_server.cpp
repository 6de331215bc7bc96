#include "sim/port_server.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "serial_line.h"

namespace sim {
namespace {

using WallClock = std::chrono::steady_clock;

constexpr size_t kReadSize = 512;

timespec ToTimespec(WallClock::duration wait) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::max(wait, WallClock::duration::zero()));
  return timespec{static_cast<time_t>(ns.count() / 1'000'000'000),
                  static_cast<long>(ns.count() % 1'000'000'000)};
}

}  // namespace

std::unique_ptr<PortServer> PortServer::CreatePty(Bus bus) {
  const internal::PtyPair pty = internal::OpenRawPty();
  return std::unique_ptr<PortServer>(
      new PortServer(pty.master, pty.slave, pty.path, std::move(bus)));
}

std::unique_ptr<PortServer> PortServer::OpenSerial(const std::string& path, Bus bus) {
  const int fd = internal::OpenSerialDevice(path);
  return std::unique_ptr<PortServer>(new PortServer(fd, -1, path, std::move(bus)));
}

PortServer::PortServer(int fd, int held_fd, std::string path, Bus bus)
    : fd_(fd), held_fd_(held_fd), path_(std::move(path)), bus_(std::move(bus)) {
  if (pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) {
    close(fd_);
    if (held_fd_ >= 0) close(held_fd_);
    throw std::system_error(errno, std::generic_category(), "pipe for " + path_);
  }
}

PortServer::~PortServer() {
  Stop();
  for (int fd : {fd_, held_fd_, wake_[0], wake_[1]}) {
    if (fd >= 0) close(fd);
  }
}

void PortServer::SetListener(std::function<void(const Exchange&)> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  bus_.SetListener(std::move(listener));
}

void PortServer::Start() {
  if (thread_.joinable()) return;
  stop_ = false;
  thread_ = std::thread([this] {
    try {
      while (RunOnce(std::chrono::milliseconds(200))) {
      }
    } catch (const std::exception& e) {
      std::lock_guard<std::mutex> lock(mutex_);
      error_ = e.what();
    }
  });
}

void PortServer::Stop() {
  stop_ = true;
  const char wake = 1;
  if (write(wake_[1], &wake, 1) < 0) {
    // The pipe is full, so the loop already has a wake-up waiting.
  }
  if (thread_.joinable()) thread_.join();
}

Counters PortServer::counters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bus_.counters();
}

std::string PortServer::Error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

bool PortServer::RunOnce(std::chrono::milliseconds max_wait) {
  WriteDue();
  if (stop_) return false;
  const TimePoint now = WallClock::now();
  TimePoint until = now + max_wait;
  const bool due = !pending_.empty() && pending_.front().due <= now;  // blocked on a full port
  if (!pending_.empty() && !due) until = std::min(until, pending_.front().due);
  pollfd fds[2] = {{fd_, static_cast<short>(POLLIN | (due ? POLLOUT : 0)), 0},
                   {wake_[0], POLLIN, 0}};
  const timespec timeout = ToTimespec(until - now);
  if (ppoll(fds, 2, &timeout, nullptr) < 0 && errno != EINTR) {
    throw std::system_error(errno, std::generic_category(), "poll " + path_);
  }
  if (fds[1].revents & POLLIN) {
    char drain[16];
    while (read(wake_[0], drain, sizeof drain) > 0) {
    }
  }
  if (fds[0].revents & POLLIN) {
    ReadRequests();
  } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
    // A serial adapter that was unplugged; a pty never hangs up while we hold its other side.
    throw std::system_error(EIO, std::generic_category(), "port hung up: " + path_);
  }
  WriteDue();
  return !stop_;
}

void PortServer::ReadRequests() {
  uint8_t buffer[kReadSize];
  const ssize_t n = read(fd_, buffer, sizeof buffer);
  if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
    throw std::system_error(errno, std::generic_category(), "read " + path_);
  }
  if (n <= 0) return;
  const TimePoint heard_at = WallClock::now();
  std::vector<Exchange> exchanges;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    exchanges = bus_.Hear(buffer, static_cast<size_t>(n));
  }
  for (const Exchange& exchange : exchanges) Schedule(exchange.reply, heard_at);
}

void PortServer::Schedule(const std::vector<Chunk>& chunks, TimePoint heard_at) {
  TimePoint t = std::max(heard_at, line_free_at_);
  for (const Chunk& chunk : chunks) {
    t += chunk.delay_before;
    if (chunk.byte_time.count() == 0) {
      pending_.push_back({t, chunk.bytes});
      continue;
    }
    for (uint8_t byte : chunk.bytes) {
      t += chunk.byte_time;
      pending_.push_back({t, Bytes{byte}});
    }
  }
  line_free_at_ = t;
}

void PortServer::WriteDue() {
  const TimePoint now = WallClock::now();
  while (!pending_.empty() && pending_.front().due <= now) {
    Bytes& bytes = pending_.front().bytes;
    const ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;  // port full: retry when writable
    if (n < 0) throw std::system_error(errno, std::generic_category(), "write " + path_);
    bytes.erase(bytes.begin(), bytes.begin() + n);
    if (!bytes.empty()) return;
    pending_.pop_front();
  }
}

}  // namespace sim
