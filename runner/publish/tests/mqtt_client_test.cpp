#include "runner/publish/mqtt_client.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runner/publish/tests/test_broker.h"
#include "tests/support/test_folder.h"

namespace runner::publish {
namespace {

using halvex::testing::TestFolder;
using testing::BrokerAccess;
using testing::TestBroker;
using testing::TestSubscriber;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

MqttSettings Settings(const std::string& url, const BrokerAccess& access = {}) {
  MqttSettings s;
  s.broker = ParseBrokerUrl(url);
  s.client_id = "qorv-test-" + std::to_string(::getpid());
  s.username = access.user;
  s.password = access.password;
  return s;
}

bool WaitUntil(const std::function<bool()>& done, milliseconds timeout = milliseconds(8000)) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return true;
}

// Every event so far, kept as the poll thread would keep its log.
struct EventLog {
  MqttClient& client;
  std::vector<std::string> lines;

  int Count(const std::string& part) {
    for (std::string& e : client.TakeEvents()) lines.push_back(std::move(e));
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.find(part) != std::string::npos;
    }));
  }
  bool WaitFor(const std::string& part) {
    return WaitUntil([&] { return Count(part) > 0; });
  }
};

milliseconds Timed(const std::function<void()>& call) {
  const auto start = Clock::now();
  call();
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

TEST(MqttClientTest, PublishesEachQosAndLeavesItsStatusOffline) {
  TestFolder folder;
  TestBroker broker(folder);
  broker.Start();
  TestSubscriber sub(broker.Port(), "halvex/#");
  MqttClient client(Settings(broker.Url()));
  EventLog events{client, {}};
  client.Start();
  ASSERT_TRUE(WaitUntil([&] { return client.State().connected; }));
  EXPECT_TRUE(events.WaitFor("connected to 127.0.0.1:" + std::to_string(broker.Port())));
  EXPECT_TRUE(sub.WaitFor("halvex/status", "online"));

  std::vector<int> ids;
  for (int qos : {0, 1, 2}) {
    SCOPED_TRACE(qos);
    const std::string payload = "{\"qos\":" + std::to_string(qos) + "}";
    const std::optional<int> id = client.Publish("halvex/A/state", payload, qos, false);
    ASSERT_TRUE(id.has_value());
    ids.push_back(*id);
    EXPECT_TRUE(sub.WaitFor("halvex/A/state", payload));
  }
  std::vector<int> acked;
  EXPECT_TRUE(WaitUntil([&] {
    for (int id : client.TakeAcknowledged()) acked.push_back(id);
    return acked.size() >= ids.size();
  }));
  std::sort(acked.begin(), acked.end());
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(acked, ids);  // the status message is the client's own, not among them
  EXPECT_EQ(client.State().published, 3u);
  EXPECT_EQ(client.State().acknowledged, 3u);

  // A subscriber that comes later finds the status kept by the broker.
  TestSubscriber late(broker.Port(), "halvex/status");
  EXPECT_TRUE(late.WaitFor("halvex/status", "online"));
  EXPECT_TRUE(late.All().at(0).retained);

  EXPECT_LT(Timed([&] { client.Stop(); }), milliseconds(1000));
  EXPECT_TRUE(sub.WaitFor("halvex/status", "offline"));  // the will, left on purpose
  TestSubscriber after(broker.Port(), "halvex/status");
  EXPECT_TRUE(after.WaitFor("halvex/status", "offline"));
  EXPECT_FALSE(client.Publish("halvex/A/state", "{}", 1, false).has_value());
}

TEST(MqttClientTest, WaitsForABrokerThatIsDownWithoutMakingTheCallerWait) {
  TestFolder folder;
  TestBroker broker(folder);  // not started yet
  MqttClient client(Settings(broker.Url()));
  EventLog events{client, {}};
  client.Start();
  const std::string where = "127.0.0.1:" + std::to_string(broker.Port());
  EXPECT_TRUE(events.WaitFor("cannot connect to " + where));
  for (int i = 0; i < 30; ++i) {
    std::optional<int> id;
    EXPECT_LT(Timed([&] { id = client.Publish("halvex/A/state", "{}", 1, false); }),
              milliseconds(5));
    EXPECT_FALSE(id.has_value());
    std::this_thread::sleep_for(milliseconds(50));
  }
  EXPECT_EQ(events.Count("cannot connect"), 1);  // told once, not at every retry

  broker.Start();
  ASSERT_TRUE(WaitUntil([&] { return client.State().connected; }));
  EXPECT_GE(client.State().connect_attempts, 2u);
  EXPECT_TRUE(client.Publish("halvex/A/state", "{}", 1, false).has_value());

  // The broker goes away and comes back on the same port.
  broker.Stop();
  ASSERT_TRUE(WaitUntil([&] { return !client.State().connected; }));
  EXPECT_TRUE(events.WaitFor("connection to " + where + " lost"));
  std::optional<int> id;
  EXPECT_LT(Timed([&] { id = client.Publish("halvex/A/state", "{}", 1, false); }), milliseconds(5));
  EXPECT_FALSE(id.has_value());
  broker.Start();
  ASSERT_TRUE(WaitUntil([&] { return client.State().connected; }));
  EXPECT_EQ(events.Count("connected to " + where), 2);
  EXPECT_LT(Timed([&] { client.Stop(); }), milliseconds(1000));
}

TEST(MqttClientTest, ARefusedLoginIsToldWithTheBrokerAndRetried) {
  struct Case {
    const char* password;
    bool connects;
  };
  for (const Case& c : {Case{"right", true}, Case{"wrong", false}}) {
    SCOPED_TRACE(c.password);
    TestFolder folder;
    TestBroker broker(folder, {"site", "right", ""});
    broker.Start();
    MqttClient client(Settings(broker.Url(), {"site", c.password, ""}));
    EventLog events{client, {}};
    client.Start();
    if (c.connects) {
      EXPECT_TRUE(WaitUntil([&] { return client.State().connected; }));
    } else {
      // The broker says "bad user name or password" or, as this one does,
      // "not authorised"; either way its words reach the log.
      const std::string refusal =
          "127.0.0.1:" + std::to_string(broker.Port()) + " refused the connection: not authorised";
      EXPECT_TRUE(events.WaitFor(refusal));
      EXPECT_TRUE(WaitUntil([&] { return client.State().connect_attempts >= 2; }));
      EXPECT_FALSE(client.State().connected);
      EXPECT_EQ(client.State().last_error, refusal);
      EXPECT_EQ(events.Count(refusal), 1);
      // Stopped during the back-off.
      EXPECT_LT(Timed([&] { client.Stop(); }), milliseconds(1000));
    }
  }
}

TEST(MqttClientTest, AMessageTheBrokerRefusesIsToldNotAcknowledged) {
  TestFolder folder;
  const BrokerAccess access{"site", "pw", "user site\ntopic readwrite halvex/#\n"};
  TestBroker broker(folder, access);
  broker.Start();
  MqttClient client(Settings(broker.Url(), access));
  EventLog events{client, {}};
  client.Start();
  ASSERT_TRUE(WaitUntil([&] { return client.State().connected; }));
  const std::optional<int> denied = client.Publish("elsewhere/A/state", "{}", 1, false);
  const std::optional<int> allowed = client.Publish("halvex/A/state", "{}", 1, false);
  ASSERT_TRUE(denied && allowed);
  std::vector<int> acked;
  EXPECT_TRUE(WaitUntil([&] {
    for (int id : client.TakeAcknowledged()) acked.push_back(id);
    return std::count(acked.begin(), acked.end(), *allowed) == 1;
  }));
  EXPECT_TRUE(events.WaitFor("refused a message on elsewhere/A/state: not authorised"));
  EXPECT_EQ(std::count(acked.begin(), acked.end(), *denied), 0);
  EXPECT_EQ(client.TakeRefused(), std::vector<int>{*denied});
  // More refusals of the same kind are not told again.
  ASSERT_TRUE(client.Publish("elsewhere/A/state", "{}", 1, false));
  EXPECT_TRUE(WaitUntil([&] { return !client.TakeRefused().empty(); }));
  EXPECT_EQ(events.Count("refused a message"), 1);
  EXPECT_EQ(client.State().acknowledged, 1u);
}

TEST(MqttClientTest, SubscribedMessagesAreTakenByThePollThread) {
  TestFolder folder;
  TestBroker broker(folder);
  broker.Start();
  MqttClient client(Settings(broker.Url()));
  client.Subscribe("homeassistant/status");  // before connecting: made on connect
  client.Start();
  ASSERT_TRUE(WaitUntil([&] { return client.State().connected; }));
  client.Subscribe("halvex/command");
  std::vector<MqttMessage> got;
  // Publishing "online" until it is seen covers the subscription still under way.
  EXPECT_TRUE(WaitUntil([&] {
    client.Publish("homeassistant/status", "online", 1, false);
    client.Publish("halvex/command", "x", 1, false);
    for (MqttMessage& m : client.TakeMessages()) got.push_back(std::move(m));
    const auto seen = [&](const char* topic) {
      return std::any_of(got.begin(), got.end(),
                         [&](const MqttMessage& m) { return m.topic == topic; });
    };
    return seen("homeassistant/status") && seen("halvex/command");
  }));
}

TEST(MqttClientTest, TlsAgainstAPlainListenerIsToldWithTheBroker) {
  TestFolder folder;
  TestBroker broker(folder);
  broker.Start();
  MqttSettings settings = Settings("mqtts://127.0.0.1:" + std::to_string(broker.Port()));
  MqttClient client(settings);
  EventLog events{client, {}};
  client.Start();
  EXPECT_TRUE(events.WaitFor("cannot connect to 127.0.0.1:" + std::to_string(broker.Port()) +
                             ": TLS failed"));
  EXPECT_FALSE(client.State().connected);
}

}  // namespace
}  // namespace runner::publish
