#include "runner/metrics/metrics_server.h"

#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace runner::metrics {
namespace {

constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";
constexpr std::size_t kAnsweringThreads = 2;  // a scraper or two; a controller has few cores
constexpr std::chrono::seconds kReadyWait{5};

// Only SO_REUSEADDR: httplib's default also sets SO_REUSEPORT, which would
// let a second host on the same port share it silently.
void ListenSocketOptions(int sock) {
  const int yes = 1;
  ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

// Blocks the stop signals in the threads started while it lives.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

}  // namespace

MetricsServer::MetricsServer(std::string host, int port)
    : host_(std::move(host)), port_(port), server_(std::make_unique<httplib::Server>()) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kAnsweringThreads); };
  server_->set_socket_options(ListenSocketOptions);
  server_->set_read_timeout(std::chrono::seconds(5));
  server_->set_write_timeout(std::chrono::seconds(5));
  server_->set_keep_alive_timeout(2);
  server_->set_payload_max_length(4096);  // a scrape sends no body
  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    const std::shared_ptr<const SiteMetrics> last = Last();
    res.set_content(last ? MetricsText(*last) : MetricsText(SiteMetrics{}), kContentType);
  });
}

MetricsServer::~MetricsServer() { Stop(); }

std::string MetricsServer::Address() const {
  const bool v6 = host_.find(':') != std::string::npos;
  return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

void MetricsServer::Start() {
  errno = 0;
  if (!server_->bind_to_port(host_, port_)) {
    const int error = errno;
    throw std::runtime_error("metrics: cannot listen on " + Address() +
                             (error ? std::string(": ") + std::strerror(error) : std::string()));
  }
  {
    const SignalsBlocked blocked;
    thread_ = std::thread([this] { server_->listen_after_bind(); });
  }
  // Stop() before the loop runs would find nothing to stop and leave the
  // thread listening for good.
  const auto until = std::chrono::steady_clock::now() + kReadyWait;
  while (!server_->is_running() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void MetricsServer::Update(SiteMetrics snapshot) {
  // The old snapshot goes with `next`, after the lock is let go.
  std::shared_ptr<const SiteMetrics> next =
      std::make_shared<const SiteMetrics>(std::move(snapshot));
  const std::lock_guard<std::mutex> lock(mutex_);
  last_.swap(next);
}

std::shared_ptr<const SiteMetrics> MetricsServer::Last() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

void MetricsServer::Stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

}  // namespace runner::metrics
