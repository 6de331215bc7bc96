#pragma once
// A site's rounds, alarms and availability published to an MQTT broker,
// with nothing lost while the broker is away.
//
//   SitePublisher publisher(*site.mqtt, devices, version, store);
//   publisher.Start();
//   ... on the poll thread:
//   publisher.Round(round);                  // every completed round
//   publisher.SetDevices(devices);           // the site was reloaded
//   publisher.Tick(statuses, now);           // after every round report
//   for (auto& e : publisher.TakeEvents()) log(e);
//   publisher.Stop();
//
// Every state message is numbered per device (the number carries on across
// restarts) and kept in the history database until the broker acknowledges
// it. One that could not go out when its round ended (the broker away, or
// too many unacknowledged) is sent again later from the database, oldest
// first, at a bounded rate, marked as backlog, while live rounds keep going
// out. Everything here runs on the poll thread and never waits for the
// network: the client's own thread does that.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "runner/alarms/alarm_book.h"
#include "runner/history/history_store.h"
#include "runner/history/history_writer.h"
#include "runner/publish/discovery.h"
#include "runner/publish/mqtt_client.h"
#include "runner/round/data_state.h"
#include "runner/round/publish_counts.h"
#include "runner/round/round_result.h"

namespace runner::publish {

struct PublishedDevice {
  unsigned data_id = 0;
  DiscoveryDevice discovery;  // its name, model and cells
};

// What the view knows of a device at a round report.
struct DeviceStatus {
  unsigned data_id = 0;
  DataState state = DataState::kNotReady;
  std::vector<ActiveAlarm> alarms;
};

// Where the publisher keeps its messages: the host's history writer and
// database. Without one (no history kept) a message that cannot go out at
// once is lost and counted.
struct PublisherStore {
  std::function<bool(HistoryJob)> queue;  // hands a job to the history writer
  std::function<std::size_t()> pending;   // jobs the writer has not committed
  std::string path;                       // the database, read again for the backlog
  std::map<unsigned, OutboxSequence> sequences;
  std::uint64_t kept = 0;  // messages waiting in the database at start
};

using runner::PublishCounts;

// "online", "stale" or "offline": a device's availability topic.
const char* AvailabilityOf(DataState state);

class SitePublisher {
 public:
  // Beyond this many unacknowledged, state messages wait in the database.
  static constexpr std::size_t kMaxInFlight = 1000;
  // Backlog messages sent per second at most, for the whole site.
  static constexpr unsigned kBacklogPerSecond = 200;
  static constexpr std::chrono::seconds kAckedForgetAfter{30};

  SitePublisher(MqttSettings settings, std::vector<PublishedDevice> devices, std::string version,
                std::optional<PublisherStore> store);
  ~SitePublisher();
  SitePublisher(const SitePublisher&) = delete;
  SitePublisher& operator=(const SitePublisher&) = delete;

  // Starts the client (throws std::runtime_error when it refuses its settings).
  void Start();
  // Publishes the round's state message and its alarm changes.
  void Round(const RoundResult& round);
  // Takes the broker's acknowledgements and messages; publishes discovery,
  // availability and alarm lists that changed; sends backlog.
  void Tick(const std::vector<DeviceStatus>& statuses, std::chrono::steady_clock::time_point now);
  // The site's devices after a reload, without reconnecting: discovery for
  // the devices added or changed, the configurations of those gone removed
  // so their entities go. A device gone keeps its numbering and its backlog,
  // which still goes out; nothing in flight is dropped.
  void SetDevices(std::vector<PublishedDevice> devices);
  std::vector<std::string> TakeEvents();
  PublishCounts Counts() const;
  // Takes the last acknowledgements and leaves the broker.
  void Stop();

 private:
  struct Device {
    PublishedDevice info;
    std::uint64_t next_seq = 1;
    std::uint64_t backlog_after = 0;   // sent or skipped up to this number
    std::uint64_t backlog_before = 0;  // messages below it may wait in the database
    std::string availability;          // as last published
    std::string alarms;                // the active list, as last published
    bool in_site = true;               // false once a reload took it out
  };
  struct InFlight {
    unsigned data_id = 0;
    std::uint64_t seq = 0;
  };

  void Connected();
  void ConnectionLost();
  void TakeAcknowledged(std::chrono::steady_clock::time_point now);
  void TakeRefused();
  void TakeMessages();
  void Number(Device& device) const;
  void PublishDiscovery();
  void PublishDiscoveryOf(const Device& device);
  std::set<std::string> SiteTopics() const;
  void PublishRetained(const std::string& topic, const std::string& payload);
  void SendBacklog(std::chrono::steady_clock::time_point now);
  bool SendBacklogOf(Device& device, unsigned& budget);
  bool Keep(const OutboxMessage& message);
  void Queue(HistoryJob::Kind kind, unsigned data_id, std::uint64_t seq);

  const MqttSettings settings_;
  const Topics topics_;
  const std::optional<DiscoverySettings> discovery_;
  std::optional<PublisherStore> store_;
  std::unique_ptr<HistoryStore> reader_;  // the database, read only, for the backlog
  MqttClient client_;
  std::map<unsigned, Device> devices_;
  std::map<int, InFlight> in_flight_;  // state messages by message id
  std::set<std::pair<unsigned, std::uint64_t>> in_flight_seqs_;
  // Acknowledged messages whose rows the history writer may not have
  // deleted yet: the backlog must not read them as waiting and send them
  // twice. Forgotten after kAckedForgetAfter, long after the writer's commit.
  std::set<std::pair<unsigned, std::uint64_t>> acked_seqs_;
  std::deque<std::pair<std::chrono::steady_clock::time_point, std::pair<unsigned, std::uint64_t>>>
      acked_order_;
  std::set<std::string> announced_;  // the site's configuration topics
  std::vector<std::string> events_;
  PublishCounts counts_;
  bool stopped_ = false;
  bool was_connected_ = false;
  double backlog_budget_ = 0;
  std::chrono::steady_clock::time_point last_tick_{};
  std::string reader_error_;  // told once
};

}  // namespace runner::publish
