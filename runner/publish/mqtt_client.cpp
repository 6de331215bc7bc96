#include "runner/publish/mqtt_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace runner::publish {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeepaliveSeconds = 30;
constexpr int kFirstBackoffSeconds = 1;
constexpr int kLastBackoffSeconds = 30;
// How often the loop looks at Stop(); a published packet wakes it at once.
constexpr int kLoopMilliseconds = 100;
// A broker that takes the connection but never answers is given up on.
constexpr auto kConnectTimeout = std::chrono::seconds(10);
constexpr auto kLeaveTimeout = std::chrono::milliseconds(500);
// Bounds for queues the poll thread has not drained.
constexpr std::size_t kMaxEvents = 256;
constexpr std::size_t kMaxMessages = 1024;
constexpr std::size_t kMaxAcknowledged = 65536;

template <typename T>
void PushBounded(std::deque<T>& queue, T item, std::size_t bound) {
  if (queue.size() >= bound) queue.pop_front();
  queue.push_back(std::move(item));
}

template <typename T>
std::vector<T> Drain(std::deque<T>& queue) {
  std::vector<T> out(std::make_move_iterator(queue.begin()), std::make_move_iterator(queue.end()));
  queue.clear();
  return out;
}

// The broker's reason, in the words a person at the site would look for.
std::string ReasonText(int reason) {
  switch (reason) {
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD: return "bad user name or password";
    case MQTT_RC_NOT_AUTHORIZED: return "not authorised";
    case MQTT_RC_CLIENTID_NOT_VALID: return "client id refused";
    default: return mosquitto_reason_string(reason);
  }
}

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

// The library's callbacks run on the client's thread, inside mosquitto_loop.
struct MqttCallbacks {
  static void OnConnect(mosquitto* mosq, void* self, int rc, int, const mosquitto_property*) {
    auto& c = *static_cast<MqttClient*>(self);
    if (rc != 0) {
      c.refused_ = true;
      c.Failed(c.broker_ + " refused the connection: " + ReasonText(rc));
      return;
    }
    int mid = -1;
    const char online[] = "online";
    if (c.announce_)
      mosquitto_publish(mosq, &mid, c.status_topic_.c_str(), sizeof online - 1, online, 1, true);
    std::vector<std::string> topics;
    {
      const std::lock_guard<std::mutex> lock(c.mutex_);
      c.state_.connected = true;
      c.status_mid_ = mid;
      c.last_failure_.clear();
      for (const MqttClient::Subscription& sub : c.subscriptions_) topics.push_back(sub.filter);
    }
    c.connected_once_ = true;
    for (const std::string& topic : topics) mosquitto_subscribe(mosq, nullptr, topic.c_str(), 1);
    c.Event("connected to " + c.broker_);
  }

  static void OnDisconnect(mosquitto*, void* self, int, const mosquitto_property*) {
    auto& c = *static_cast<MqttClient*>(self);
    const std::lock_guard<std::mutex> lock(c.mutex_);
    c.state_.connected = false;
  }

  static void OnPublish(mosquitto*, void* self, int mid, int reason, const mosquitto_property*) {
    auto& c = *static_cast<MqttClient*>(self);
    std::string refused;
    {
      const std::lock_guard<std::mutex> lock(c.mutex_);
      const auto it = c.in_flight_.find(mid);
      const bool known = it != c.in_flight_.end();
      const std::string topic = known ? it->second : "";
      if (known) c.in_flight_.erase(it);
      // A broker on the same machine can answer before Publish() has noted
      // the message: Publish() finds the answer here and tells it.
      if (!known && mid != c.status_mid_) {
        if (c.settled_early_.size() >= kMaxEvents) c.settled_early_.erase(c.settled_early_.begin());
        c.settled_early_[mid] = reason;
      }
      if (mid == c.status_mid_) {
        if (reason >= MQTT_RC_UNSPECIFIED)
          refused = "refused " + c.status_topic_ + ": " + ReasonText(reason);
      } else if (reason >= MQTT_RC_UNSPECIFIED) {
        // Told once per topic and reason, not per message.
        if (known) refused = "refused a message on " + topic + ": " + ReasonText(reason);
        PushBounded(c.refused_ids_, mid, kMaxAcknowledged);
      } else {
        ++c.state_.acknowledged;
        PushBounded(c.acknowledged_, mid, kMaxAcknowledged);
      }
    }
    if (!refused.empty()) c.Failed(c.broker_ + " " + refused);
  }

  static void OnMessage(mosquitto*, void* self, const mosquitto_message* m,
                        const mosquitto_property*) {
    auto& c = *static_cast<MqttClient*>(self);
    MqttMessage message{
        m->topic,
        std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
        m->retain};
    const std::lock_guard<std::mutex> lock(c.mutex_);
    for (const MqttClient::Subscription& sub : c.subscriptions_) {
      bool matches = false;
      mosquitto_topic_matches_sub(sub.filter.c_str(), m->topic, &matches);
      if (matches && (!sub.keep || sub.keep(message))) {
        PushBounded(c.messages_, std::move(message), kMaxMessages);
        return;
      }
    }
  }

  // Also called on the poll thread, from inside Publish.
  static void OnLog(mosquitto*, void* self, int level, const char* text) {
    if (level != MOSQ_LOG_ERR) return;
    auto& c = *static_cast<MqttClient*>(self);
    const std::lock_guard<std::mutex> lock(c.mutex_);
    c.last_log_error_ = text;
  }
};

MqttClient::MqttClient(MqttSettings settings, bool announce)
    : settings_(std::move(settings)),
      announce_(announce),
      status_topic_(settings_.topic_prefix + "/status"),
      broker_(settings_.broker.HostPort()) {}

MqttClient::~MqttClient() {
  Stop();
  if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

void MqttClient::Start() {
  if (mosq_ != nullptr) return;
  InitLibrary();
  mosq_ = mosquitto_new(settings_.client_id.c_str(), true, this);
  if (mosq_ == nullptr) throw std::runtime_error("MQTT: cannot make a client");
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  // Publish and Subscribe come from the poll thread, the loop runs on ours.
  mosquitto_threaded_set(mosq_, true);
  mosquitto_connect_v5_callback_set(mosq_, MqttCallbacks::OnConnect);
  mosquitto_disconnect_v5_callback_set(mosq_, MqttCallbacks::OnDisconnect);
  mosquitto_publish_v5_callback_set(mosq_, MqttCallbacks::OnPublish);
  mosquitto_message_v5_callback_set(mosq_, MqttCallbacks::OnMessage);
  mosquitto_log_callback_set(mosq_, MqttCallbacks::OnLog);
  const char offline[] = "offline";
  if (announce_ && mosquitto_will_set(mosq_, status_topic_.c_str(), sizeof offline - 1, offline, 1,
                                      true) != MOSQ_ERR_SUCCESS)
    throw std::runtime_error("MQTT: cannot set the will on " + status_topic_);
  if (!settings_.username.empty() &&
      mosquitto_username_pw_set(
          mosq_, settings_.username.c_str(),
          settings_.password.empty() ? nullptr : settings_.password.c_str()) != MOSQ_ERR_SUCCESS)
    throw std::runtime_error("MQTT: the user name is not usable");
  if (settings_.broker.tls) {
    auto file = [](const std::string& f) { return f.empty() ? nullptr : f.c_str(); };
    // Without a CA file the system's authorities vouch for the broker.
    const char* ca_path = settings_.ca_file.empty() ? "/etc/ssl/certs" : nullptr;
    if (settings_.ca_file.empty()) mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    const int rc = mosquitto_tls_set(mosq_, file(settings_.ca_file), ca_path,
                                     file(settings_.cert_file), file(settings_.key_file), nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
      throw std::runtime_error("MQTT: TLS for " + broker_ + ": " + mosquitto_strerror(rc));
  }
  thread_ = std::thread([this] { Run(); });
}

void MqttClient::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::optional<int> MqttClient::Publish(const std::string& topic, const std::string& payload,
                                       int qos, bool retain) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!state_.connected || stopping_) return std::nullopt;
  }
  // The library only queues the packet and wakes the loop; the lock stays
  // free while it does, as its callbacks take it.
  int mid = 0;
  const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                   payload.data(), qos, retain);
  if (rc != MOSQ_ERR_SUCCESS) return std::nullopt;
  std::string refused;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++state_.published;
    const auto early = settled_early_.find(mid);
    if (early != settled_early_.end()) {
      if (early->second >= MQTT_RC_UNSPECIFIED)
        refused = "refused a message on " + topic + ": " + ReasonText(early->second);
      settled_early_.erase(early);
    } else if (qos > 0) {
      in_flight_[mid] = topic;
    }
  }
  if (!refused.empty()) Failed(broker_ + " " + refused);
  return mid;
}

std::vector<int> MqttClient::TakeAcknowledged() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Drain(acknowledged_);
}

std::vector<std::string> MqttClient::TakeEvents() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Drain(events_);
}

std::vector<MqttMessage> MqttClient::TakeMessages() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Drain(messages_);
}

std::vector<int> MqttClient::TakeRefused() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return Drain(refused_ids_);
}

void MqttClient::Subscribe(const std::string& topic, MessageFilter keep) {
  bool connected = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (std::any_of(subscriptions_.begin(), subscriptions_.end(),
                    [&](const Subscription& s) { return s.filter == topic; }))
      return;
    subscriptions_.push_back({topic, std::move(keep)});
    connected = state_.connected;
  }
  // Not connected: the next connect subscribes.
  if (connected) mosquitto_subscribe(mosq_, nullptr, topic.c_str(), 1);
}

MqttState MqttClient::State() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void MqttClient::Event(const std::string& text) {
  const std::lock_guard<std::mutex> lock(mutex_);
  PushBounded(events_, "MQTT: " + text, kMaxEvents);
}

// A failure is told once, not at every retry, until it changes or the
// client gets through.
void MqttClient::Failed(const std::string& text) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.last_error = text;
    if (text == last_failure_) return;
    last_failure_ = text;
  }
  Event(text);
}

std::string MqttClient::ConnectError(int rc, int error) const {
  if (rc == MOSQ_ERR_ERRNO) return std::strerror(error);
  if (rc == MOSQ_ERR_TLS) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return "TLS failed" + (last_log_error_.empty() ? "" : " (" + last_log_error_ + ")");
  }
  return mosquitto_strerror(rc);
}

bool MqttClient::WaitBackoff(int seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return stopping_; });
}

void MqttClient::Run() {
  int backoff = kFirstBackoffSeconds;
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      ++state_.connect_attempts;
    }
    connected_once_ = false;
    refused_ = false;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      last_log_error_.clear();
    }
    const int rc = mosquitto_connect_bind_async(mosq_, settings_.broker.host.c_str(),
                                                settings_.broker.port, kKeepaliveSeconds, nullptr);
    const int error = errno;
    if (rc == MOSQ_ERR_SUCCESS) {
      RunConnection();
    } else {
      Failed("cannot connect to " + broker_ + ": " + ConnectError(rc, error));
    }
    if (connected_once_) backoff = kFirstBackoffSeconds;
    if (!WaitBackoff(backoff)) return;
    backoff = std::min(backoff * 2, kLastBackoffSeconds);
  }
}

// One connection, from the connect under way until it ends or Stop().
void MqttClient::RunConnection() {
  const Clock::time_point started = Clock::now();
  int rc = MOSQ_ERR_SUCCESS;
  int error = 0;
  for (;;) {
    bool connected = false;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
      connected = state_.connected;
    }
    if (!connected && !connected_once_ && Clock::now() - started > kConnectTimeout) {
      Failed(broker_ + " did not answer the connect");
      mosquitto_disconnect(mosq_);
      return;
    }
    rc = mosquitto_loop(mosq_, kLoopMilliseconds, 1);
    error = errno;
    if (rc != MOSQ_ERR_SUCCESS) break;
  }
  if (rc == MOSQ_ERR_SUCCESS) {  // Stop(): leave, asking the broker to publish the will
    if (State().connected) {
      mosquitto_disconnect_v5(mosq_, MQTT_RC_DISCONNECT_WITH_WILL_MSG, nullptr);
      const Clock::time_point deadline = Clock::now() + kLeaveTimeout;
      while (State().connected && Clock::now() < deadline &&
             mosquitto_loop(mosq_, kLoopMilliseconds, 1) == MOSQ_ERR_SUCCESS) {
      }
    }
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    state_.connected = false;
  }
  if (refused_) return;  // told by OnConnect with the broker's reason
  const std::string reason = ConnectError(rc, error);
  if (connected_once_) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      state_.last_error = "connection to " + broker_ + " lost: " + reason;
    }
    Event("connection to " + broker_ + " lost: " + reason);
  } else {
    Failed("cannot connect to " + broker_ + ": " + reason);
  }
}

}  // namespace runner::publish
