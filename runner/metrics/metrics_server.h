#pragma once
// The metrics endpoint: GET /metrics over HTTP, in the Prometheus text
// format, from the last snapshot the poll loop handed over.
//
//   MetricsServer server("127.0.0.1", 9108);
//   server.Update(snapshot);  // poll thread, once per round: a pointer swap
//   server.Start();           // throws when the address cannot be listened on
//   ...
//   server.Stop();
//
// The server observes and never steers: Update() takes the lock only to
// swap a pointer, and a scrape formats outside it, so a slow or stuck
// scraper never holds up a round. Its own threads (one listening, two
// answering) take no stop signals; those go to the poll loop.

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "runner/metrics/site_metrics.h"

namespace httplib {
class Server;
}

namespace runner::metrics {

class MetricsServer {
 public:
  MetricsServer(std::string host, int port);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Binds and starts answering; throws std::runtime_error naming the
  // address when it cannot (in use, not this machine's).
  void Start();
  void Update(SiteMetrics snapshot);
  // Stops answering and ends the threads. Idempotent.
  void Stop();

  // "127.0.0.1:9108": where it listens.
  std::string Address() const;

 private:
  std::shared_ptr<const SiteMetrics> Last() const;

  std::string host_;
  int port_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::shared_ptr<const SiteMetrics> last_;
};

}  // namespace runner::metrics
