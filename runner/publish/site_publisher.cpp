#include "runner/publish/site_publisher.h"

#include <algorithm>
#include <ctime>
#include <thread>
#include <utility>

#include "runner/publish/round_messages.h"

namespace runner::publish {
namespace {

constexpr std::size_t kBacklogBatch = 50;  // database rows read at once per device

std::optional<DiscoverySettings> DiscoveryFor(const MqttSettings& s, const std::string& version) {
  if (!s.discovery_prefix) return std::nullopt;
  DiscoverySettings d;
  d.prefix = *s.discovery_prefix;
  d.gateway = s.client_id;
  d.version = version;
  d.topics = Topics{s.topic_prefix};
  return d;
}

}  // namespace

const char* AvailabilityOf(DataState state) {
  switch (state) {
    case DataState::kFresh: return "online";
    case DataState::kStale: return "stale";
    default: return "offline";
  }
}

SitePublisher::SitePublisher(MqttSettings settings, std::vector<PublishedDevice> devices,
                             std::string version, std::optional<PublisherStore> store)
    : settings_(std::move(settings)),
      topics_{settings_.topic_prefix},
      discovery_(DiscoveryFor(settings_, version)),
      store_(std::move(store)),
      client_(settings_) {
  for (PublishedDevice& d : devices) {
    Device device;
    device.info = std::move(d);
    Number(device);
    devices_.emplace(device.info.data_id, std::move(device));
  }
  announced_ = SiteTopics();
  counts_.broker = settings_.broker.HostPort();
  if (store_) counts_.waiting = store_->kept;
}

SitePublisher::~SitePublisher() { Stop(); }

// The numbers carry on from the database's, as they were at start: only
// this publisher numbers a device's messages since.
void SitePublisher::Number(Device& device) const {
  if (!store_) return;
  const auto found = store_->sequences.find(device.info.data_id);
  if (found == store_->sequences.end()) return;
  device.next_seq = found->second.last + 1;
  device.backlog_before = device.next_seq;  // whatever is left in the database
}

std::set<std::string> SitePublisher::SiteTopics() const {
  std::set<std::string> topics;
  if (!discovery_) return topics;
  for (const auto& [id, d] : devices_)
    if (d.in_site)
      for (const RetainedMessage& r : DiscoveryOf(d.info.discovery, *discovery_))
        topics.insert(r.topic);
  return topics;
}

void SitePublisher::SetDevices(std::vector<PublishedDevice> devices) {
  std::set<unsigned> listed;
  std::vector<const Device*> announce;
  for (PublishedDevice& p : devices) {
    listed.insert(p.data_id);
    auto [it, fresh] = devices_.try_emplace(p.data_id);
    Device& d = it->second;
    const DiscoveryDevice& was = d.info.discovery;
    const bool same = !fresh && d.in_site && was.name == p.discovery.name &&
                      was.model == p.discovery.model &&
                      was.cell_numbers == p.discovery.cell_numbers;
    d.info = std::move(p);
    d.in_site = true;
    if (fresh) Number(d);
    if (same) continue;
    d.availability.clear();  // published anew at the next tick
    d.alarms.clear();
    announce.push_back(&d);
  }
  for (auto& [id, d] : devices_)
    if (!listed.count(id) && d.in_site) {
      d.in_site = false;
      PublishRetained(topics_.Availability(d.info.discovery.name), "offline");
    }
  // A broker away now hears of it at the next connect: the filter of
  // announced topics removes what the site no longer has.
  const std::set<std::string> topics = SiteTopics();
  for (const std::string& topic : announced_)
    if (!topics.count(topic)) PublishRetained(topic, "");
  announced_ = topics;
  for (const Device* d : announce) PublishDiscoveryOf(*d);
}

void SitePublisher::Start() {
  if (store_ && !store_->path.empty()) {
    try {
      reader_ = HistoryStore::OpenReadOnly(store_->path);
      reader_->SetBusyTimeout(0);  // the poll thread never waits for the writer
    } catch (const HistoryError& e) {
      events_.push_back("MQTT: the backlog cannot be read from " + store_->path + ": " + e.what());
    }
  }
  if (discovery_) {
    client_.Subscribe(HomeAssistantStatus(*discovery_));
    // Only what an earlier run announced and this site does not: the
    // configurations published now come back too, by the thousand.
    client_.Subscribe(AnnouncedFilter(*discovery_), [this](const MqttMessage& m) {
      return m.retained && !m.payload.empty() && announced_.count(m.topic) == 0;
    });
  }
  client_.Start();
}

void SitePublisher::Stop() {
  if (stopped_) return;
  stopped_ = true;
  // The last rounds' acknowledgements, for up to a second: what is not
  // acknowledged is sent again at the next start.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!in_flight_.empty() && client_.State().connected &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    TakeAcknowledged(std::chrono::steady_clock::now());
  }
  client_.Stop();
  TakeAcknowledged(std::chrono::steady_clock::now());
}

void SitePublisher::Round(const RoundResult& round) {
  const auto found = devices_.find(round.data_id);
  if (found == devices_.end()) return;
  Device& d = found->second;
  const std::uint64_t seq = d.next_seq++;
  const std::string payload = StateMessage(round, seq, DataState::kFresh);
  const bool kept = Keep({round.data_id, seq, round.at.utc, payload});
  std::optional<int> mid;
  if (in_flight_.size() < kMaxInFlight)
    mid = client_.Publish(topics_.State(round.device), payload, settings_.qos, false);
  if (mid) {
    in_flight_[*mid] = {round.data_id, seq};
    in_flight_seqs_.insert({round.data_id, seq});
  } else if (kept) {
    d.backlog_before = std::max(d.backlog_before, seq + 1);
  } else {
    ++counts_.lost;
  }
  for (const AlarmChange& change : round.alarm_changes)
    client_.Publish(topics_.Alarm(round.device), AlarmMessage(round, change), 1, false);
}

bool SitePublisher::Keep(const OutboxMessage& message) {
  if (!store_ || !store_->queue) return false;
  HistoryJob job;
  job.kind = HistoryJob::Kind::kOutbox;
  job.data_id = message.data_id;
  job.message = message;
  if (!store_->queue(std::move(job))) return false;
  ++counts_.waiting;
  return true;
}

void SitePublisher::Queue(HistoryJob::Kind kind, unsigned data_id, std::uint64_t seq) {
  if (!store_ || !store_->queue) return;
  HistoryJob job;
  job.kind = kind;
  job.data_id = data_id;
  job.message.data_id = data_id;
  job.message.seq = seq;
  store_->queue(std::move(job));
  if (counts_.waiting > 0) --counts_.waiting;
}

void SitePublisher::Tick(const std::vector<DeviceStatus>& statuses,
                         std::chrono::steady_clock::time_point now) {
  const bool connected = client_.State().connected;
  if (connected && !was_connected_) Connected();
  if (!connected && was_connected_) ConnectionLost();
  was_connected_ = connected;
  TakeAcknowledged(now);
  TakeRefused();
  TakeMessages();
  for (const DeviceStatus& status : statuses) {
    const auto found = devices_.find(status.data_id);
    if (found == devices_.end() || !connected) continue;
    Device& d = found->second;
    const std::string availability = AvailabilityOf(status.state);
    if (availability != d.availability) {
      PublishRetained(topics_.Availability(d.info.discovery.name), availability);
      d.availability = availability;
    }
    const std::string alarms = AlarmListMessage(status.alarms);
    if (alarms != d.alarms) {
      PublishRetained(topics_.Alarms(d.info.discovery.name), alarms);
      d.alarms = alarms;
    }
  }
  if (connected) SendBacklog(now);
  last_tick_ = now;
}

// After every connect: the broker may have lost what it retained, and Home
// Assistant the entities.
void SitePublisher::Connected() {
  for (auto& [id, d] : devices_) {
    d.availability.clear();
    d.alarms.clear();
  }
  PublishDiscovery();
}

// Messages not acknowledged when the connection went may never arrive: the
// backlog sends them again from the database.
void SitePublisher::ConnectionLost() {
  for (const auto& [mid, m] : in_flight_) {
    Device& d = devices_.at(m.data_id);
    d.backlog_before = std::max(d.backlog_before, m.seq + 1);
  }
  in_flight_.clear();
  in_flight_seqs_.clear();
}

// A state message the broker refuses (not authorised) stays in the
// database, waiting, and is not sent again before the host starts anew.
void SitePublisher::TakeRefused() {
  for (int mid : client_.TakeRefused()) {
    const auto found = in_flight_.find(mid);
    if (found == in_flight_.end()) continue;
    in_flight_seqs_.erase({found->second.data_id, found->second.seq});
    in_flight_.erase(found);
  }
}

void SitePublisher::TakeAcknowledged(std::chrono::steady_clock::time_point now) {
  while (!acked_order_.empty() && now - acked_order_.front().first > kAckedForgetAfter) {
    acked_seqs_.erase(acked_order_.front().second);
    acked_order_.pop_front();
  }
  for (int mid : client_.TakeAcknowledged()) {
    const auto found = in_flight_.find(mid);
    if (found == in_flight_.end()) continue;
    const std::pair<unsigned, std::uint64_t> key{found->second.data_id, found->second.seq};
    Queue(HistoryJob::Kind::kAcknowledged, key.first, key.second);
    ++counts_.published;
    in_flight_seqs_.erase(key);
    in_flight_.erase(found);
    if (store_ && acked_seqs_.insert(key).second) acked_order_.emplace_back(now, key);
  }
}

void SitePublisher::TakeMessages() {
  for (const MqttMessage& m : client_.TakeMessages()) {
    if (!discovery_) continue;
    if (m.topic == HomeAssistantStatus(*discovery_)) {
      if (m.payload == "online") PublishDiscovery();
      continue;
    }
    // A configuration the gateway announced once, for a device the site no
    // longer has: removed, so that its entities go.
    PublishRetained(m.topic, "");
  }
}

void SitePublisher::PublishDiscovery() {
  for (const auto& [id, d] : devices_)
    if (d.in_site) PublishDiscoveryOf(d);
}

void SitePublisher::PublishDiscoveryOf(const Device& device) {
  if (!discovery_) return;
  for (const RetainedMessage& r : DiscoveryOf(device.info.discovery, *discovery_))
    PublishRetained(r.topic, r.payload);
}

void SitePublisher::PublishRetained(const std::string& topic, const std::string& payload) {
  client_.Publish(topic, payload, 1, true);
}

void SitePublisher::SendBacklog(std::chrono::steady_clock::time_point now) {
  if (!reader_) return;
  if (last_tick_ != std::chrono::steady_clock::time_point{}) {
    const double seconds = std::chrono::duration<double>(now - last_tick_).count();
    backlog_budget_ =
        std::min<double>(backlog_budget_ + seconds * kBacklogPerSecond, kBacklogPerSecond);
  }
  unsigned budget = static_cast<unsigned>(backlog_budget_);
  const unsigned given = budget;
  for (auto& [id, d] : devices_)
    if (!SendBacklogOf(d, budget)) break;
  backlog_budget_ -= given - budget;
}

// Sends what waits for `device`, oldest first; false when no more can go now.
bool SitePublisher::SendBacklogOf(Device& d, unsigned& budget) {
  const std::int64_t oldest = static_cast<std::int64_t>(std::time(nullptr)) -
                              static_cast<std::int64_t>(settings_.backlog_hours * 3600.0);
  while (d.backlog_before > d.backlog_after + 1) {
    if (budget == 0 || in_flight_.size() >= kMaxInFlight) return false;
    std::vector<OutboxMessage> rows;
    try {
      rows = reader_->ReadOutbox(d.info.data_id, d.backlog_after, d.backlog_before,
                                 std::min<std::size_t>(budget, kBacklogBatch));
      reader_error_.clear();
    } catch (const HistoryError& e) {
      if (reader_error_ != e.what())
        events_.push_back("MQTT: the backlog cannot be read from " + store_->path + ": " +
                          e.what());
      reader_error_ = e.what();
      return false;
    }
    if (rows.empty()) {
      // Rows still on their way to the database are read at a later tick;
      // with none on the way, nothing is left to send.
      if (store_->pending && store_->pending() > 0) return true;
      d.backlog_after = d.backlog_before - 1;
      return true;
    }
    for (const OutboxMessage& m : rows) {
      if (in_flight_seqs_.count({m.data_id, m.seq}) != 0 ||
          acked_seqs_.count({m.data_id, m.seq}) != 0) {
        d.backlog_after = m.seq;
        continue;
      }
      if (m.utc < oldest) {
        Queue(HistoryJob::Kind::kTooOld, m.data_id, m.seq);
        ++counts_.skipped;
        d.backlog_after = m.seq;
        continue;
      }
      const std::optional<int> mid = client_.Publish(topics_.State(d.info.discovery.name),
                                                     AsBacklog(m.payload), settings_.qos, false);
      if (!mid) return false;
      in_flight_[*mid] = {m.data_id, m.seq};
      in_flight_seqs_.insert({m.data_id, m.seq});
      ++counts_.backlog;
      d.backlog_after = m.seq;
      if (--budget == 0) return false;
    }
  }
  return true;
}

std::vector<std::string> SitePublisher::TakeEvents() {
  std::vector<std::string> out = std::move(events_);
  events_.clear();
  for (std::string& e : client_.TakeEvents()) out.push_back(std::move(e));
  return out;
}

PublishCounts SitePublisher::Counts() const {
  PublishCounts c = counts_;
  const MqttState state = client_.State();
  c.connected = state.connected;
  c.trouble = state.connected ? "" : state.last_error;
  return c;
}

}  // namespace runner::publish
