#pragma once
// A real broker for the client's tests, and a subscriber that watches it.
//
//   TestFolder folder;
//   TestBroker broker(folder, {"user", "pass", "user user\ntopic write halvex/#\n"});
//   broker.Start();                      // waits until the port takes connections
//   TestSubscriber sub(broker.Port(), "halvex/#");
//   ASSERT_TRUE(sub.WaitFor("halvex/status", "online"));
//   broker.Stop();  broker.Start();      // the same port again
//
// The broker is /usr/sbin/mosquitto with its own configuration, listening on
// a free loopback port; its log stays in the folder.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_folder.h"

struct mosquitto;
struct mosquitto_message;

namespace runner::publish::testing {

struct BrokerAccess {
  BrokerAccess() = default;
  BrokerAccess(std::string user_name, std::string pass, std::string acl_text)
      : user(std::move(user_name)), password(std::move(pass)), acl(std::move(acl_text)) {}

  std::string user;      // empty: anonymous clients allowed
  std::string password;  // made into a password file with mosquitto_passwd
  std::string acl;       // the acl_file's text; empty: none
  // Sessions and their queued messages saved every second, so they outlive
  // a killed broker.
  bool persistent = false;
  // A TLS listener with these files (PEM), when given.
  std::string cafile, certfile, keyfile;
};

class TestBroker {
 public:
  TestBroker(const halvex::testing::TestFolder& folder, BrokerAccess access = {});
  ~TestBroker();
  TestBroker(const TestBroker&) = delete;
  TestBroker& operator=(const TestBroker&) = delete;

  void Start();  // throws std::runtime_error, with the broker's log, when it does not come up
  void Stop();   // kills it
  int Port() const { return port_; }
  std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

 private:
  std::string config_;
  std::string log_;
  int port_ = 0;
  pid_t pid_ = -1;
};

struct Received {
  std::string topic;
  std::string payload;
  bool retained = false;
};

// A plain libmosquitto client on its own thread, subscribed to `filter`
// once constructed. With a `session` name its session stays at the broker
// while it is away (and, on a persistent broker, across a restart): what
// arrives meanwhile waits for it.
class TestSubscriber {
 public:
  TestSubscriber(int port, const std::string& filter, const BrokerAccess& access = {},
                 const std::string& session = "");
  ~TestSubscriber();
  TestSubscriber(const TestSubscriber&) = delete;
  TestSubscriber& operator=(const TestSubscriber&) = delete;

  // True once a message with this topic and payload arrived (now or before).
  bool WaitFor(const std::string& topic, const std::string& payload,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));
  std::vector<Received> All();
  // Messages with this topic (and, when given, this payload) so far.
  int Count(const std::string& topic, const std::optional<std::string>& payload = std::nullopt);
  std::string Last(const std::string& topic);  // its newest payload; "" when none
  // Publishes at QoS 1 and waits until the broker has it.
  void Publish(const std::string& topic, const std::string& payload, bool retain);

 private:
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* m);
  static void OnSubscribe(mosquitto*, void* self, int, int, const int*);
  static void OnPublish(mosquitto*, void* self, int mid);

  mosquitto* mosq_ = nullptr;
  std::mutex mutex_;
  std::condition_variable arrived_;
  bool subscribed_ = false;
  std::vector<int> published_;  // acknowledged message ids
  std::vector<Received> received_;
};

}  // namespace runner::publish::testing
