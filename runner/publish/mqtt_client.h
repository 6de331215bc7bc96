#pragma once
// A connection to an MQTT broker that never makes its caller wait.
//
//   MqttClient client(settings);            // the site file's "mqtt" object
//   client.Start();                         // connects on its own thread, retrying
//   if (auto id = client.Publish(topic, json, 1, false)) outbox.Keep(*id, ...);
//   for (int id : client.TakeAcknowledged()) outbox.Drop(id);
//   for (const std::string& e : client.TakeEvents()) log(e);
//   client.Stop();
//
// Its own thread connects, runs the network loop and, when the broker is
// away or refuses, tries again after 1 s, 2 s, 4 s ... up to 30 s. The broker
// holds "offline" as the last will on PREFIX/status (retained, QoS 1); every
// connect publishes "online" there. The poll thread calls every member:
// each takes a lock only for as long as it copies a queue or hands a packet
// to the library, and nothing is printed from the client's thread: what
// happens (connected, lost, refused and why) waits in TakeEvents().

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runner/site/mqtt_settings.h"

struct mosquitto;

namespace runner::publish {

struct MqttState {
  bool connected = false;
  std::uint64_t published = 0;     // messages handed to the broker's connection
  std::uint64_t acknowledged = 0;  // of those, confirmed (PUBACK, PUBCOMP; QoS 0 once sent)
  std::uint64_t connect_attempts = 0;
  std::string last_error;  // empty until something went wrong
};

struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retained = false;
};

class MqttClient {
 public:
  // `announce` false: no last will and no "online" on PREFIX/status, for a
  // connection that only tries the broker while the site's own may be up.
  explicit MqttClient(MqttSettings settings, bool announce = true);
  ~MqttClient();  // Stop()
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Starts the client's thread. Throws std::runtime_error when the library
  // refuses the settings (a TLS file it cannot use).
  void Start();
  // Leaves the broker (which then publishes "offline") and joins the thread,
  // within a second.
  void Stop();

  // The message id, or nothing when not connected or the library refused
  // the message. Never waits for the network.
  std::optional<int> Publish(const std::string& topic, const std::string& payload, int qos,
                             bool retain);
  // The ids the broker confirmed since the last call. A message the broker
  // refused (not authorised) is not among them: it is told in an event and
  // its id is in TakeRefused().
  std::vector<int> TakeAcknowledged();
  std::vector<int> TakeRefused();
  // What happened since the last call, oldest first, as lines for the log.
  std::vector<std::string> TakeEvents();
  // Decides on the client's thread whether a message is kept for
  // TakeMessages(): a burst of retained messages need not all wait there.
  using MessageFilter = std::function<bool(const MqttMessage&)>;
  // Subscribed now and after every reconnect; its messages (those `keep`
  // takes, every one without it) in TakeMessages().
  void Subscribe(const std::string& topic, MessageFilter keep = {});
  std::vector<MqttMessage> TakeMessages();
  MqttState State() const;

  const std::string& StatusTopic() const { return status_topic_; }

 private:
  void Run();
  bool WaitBackoff(int seconds);
  void RunConnection();
  std::string ConnectError(int rc, int error) const;  // error: errno
  void Event(const std::string& text);
  void Failed(const std::string& text);

  friend struct MqttCallbacks;  // the library's callbacks, on the client's thread

  const MqttSettings settings_;
  const bool announce_;
  const std::string status_topic_;
  const std::string broker_;  // "host:port", for the events
  mosquitto* mosq_ = nullptr;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  MqttState state_;
  std::deque<std::string> events_;
  std::deque<int> acknowledged_;
  std::deque<MqttMessage> messages_;
  struct Subscription {
    std::string filter;
    MessageFilter keep;
  };
  std::vector<Subscription> subscriptions_;
  std::deque<int> refused_ids_;
  std::map<int, std::string> in_flight_;  // message id -> topic, until confirmed
  std::map<int, int> settled_early_;      // message id -> reason, confirmed before it was noted
  int status_mid_ = -1;                   // the "online" message, not the caller's
  std::string last_failure_;              // told once until it changes or we connect
  // The client thread's own, for the connection under way.
  bool connected_once_ = false;  // the broker took it
  bool refused_ = false;         // the broker refused it, and said why
  std::string last_log_error_;   // the library's own words (TLS errors); under mutex_
};

}  // namespace runner::publish
