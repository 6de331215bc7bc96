#include "runner/publish/site_publisher.h"

#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include "runner/publish/tests/test_broker.h"
#include "tests/support/test_folder.h"

namespace runner::publish {
namespace {

using halvex::testing::TestFolder;
using testing::Received;
using testing::TestBroker;
using testing::TestSubscriber;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool WaitUntil(const std::function<bool()>& done, milliseconds timeout = milliseconds(15000)) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

Json::Value Parse(const std::string& text) {
  Json::Value v;
  Json::Reader().parse(text, v);
  return v;
}

// Two devices with a history database of their own, publishing to a broker
// as the host does from its poll thread.
class Site {
 public:
  explicit Site(const TestFolder& folder) : db_(folder / "history.db") {}
  ~Site() { Close(); }

  void Open(const std::string& url, double backlog_hours = 24) {
    writer_ = std::make_unique<HistoryWriter>(HistoryStore::Open(db_));
    writer_->WaitIdle(milliseconds(2000));
    PublisherStore store;
    store.queue = [this](HistoryJob job) {
      if (hold_acknowledgements_ && job.kind == HistoryJob::Kind::kAcknowledged) return true;
      return writer_->Add(std::move(job));
    };
    store.pending = [this] { return writer_->State().pending; };
    store.path = db_;
    store.sequences = writer_->store()->Sequences();
    store.kept = writer_->store()->OutboxCount();
    MqttSettings s;
    s.broker = ParseBrokerUrl(url);
    s.client_id = "gw-" + std::to_string(::getpid());
    s.backlog_hours = backlog_hours;
    std::vector<PublishedDevice> devices;
    for (unsigned id : {1u, 2u}) devices.push_back({id, {Name(id), "halvex_30", {1, 2, 3}}});
    publisher_ = std::make_unique<SitePublisher>(s, devices, "9.9", store);
    publisher_->Start();
  }
  // What a host killed at once leaves: the rows queued so far written, the
  // broker's connection dropped without a word.
  void Close() {
    if (!publisher_) return;
    publisher_.reset();
    writer_->Stop();
    writer_.reset();
  }

  // From now on the rows of acknowledged messages stay, as they do while a
  // busy writer has yet to delete them.
  void HoldAcknowledgements() { hold_acknowledgements_ = true; }

  static std::string Name(unsigned id) { return "string-" + std::string(1, char('A' + id - 1)); }

  // One round of each device, with the round's number in its current.
  void Round() {
    ++round_;
    for (unsigned id : {1u, 2u}) {
      BatteryRecord r;
      r.data_id = id;
      r.cells[0] = r.cells[1] = r.cells[2] = 13.25f;
      r.group_current = static_cast<float>(round_);
      const std::vector<unsigned char> raw = EncodeRecord(r);
      HostInstant at;
      at.utc = static_cast<std::int64_t>(std::time(nullptr));
      publisher_->Round(
          *MakeRoundResult(Name(id), id, at, raw.data(), raw.size(), {{0, 1, 2}, 3, 1}));
    }
    Tick();
  }
  void Tick(DataState state = DataState::kFresh) {
    std::vector<DeviceStatus> statuses{{1, state, {}}, {2, DataState::kFresh, {}}};
    publisher_->Tick(statuses, Clock::now());
  }
  bool TickUntil(const std::function<bool()>& done, milliseconds timeout = milliseconds(15000)) {
    return WaitUntil(
        [&] {
          Tick();
          return done();
        },
        timeout);
  }
  PublishCounts Counts() const { return publisher_->Counts(); }
  SitePublisher& publisher() { return *publisher_; }
  std::map<unsigned, OutboxSequence> Sequences() {
    writer_->WaitIdle(milliseconds(2000));
    return writer_->store()->Sequences();
  }

 private:
  std::string db_;
  std::unique_ptr<HistoryWriter> writer_;
  std::unique_ptr<SitePublisher> publisher_;
  int round_ = 0;
  bool hold_acknowledgements_ = false;
};

struct StateSeen {
  std::uint64_t seq;
  bool backlog;
  double current;
};

// Every state message of `device` the subscriber got, in arrival order.
std::vector<StateSeen> States(TestSubscriber& sub, const std::string& device) {
  std::vector<StateSeen> out;
  for (const Received& r : sub.All()) {
    if (r.topic != "halvex/" + device + "/state") continue;
    const Json::Value v = Parse(r.payload);
    out.push_back({v["seq"].asUInt64(), v["backlog"].asBool(), v["group_current"].asDouble()});
  }
  return out;
}

// Every number from 1 to `last` arrived, each live one once, and the ones
// sent again came oldest first; each carries its own round's values.
void ExpectComplete(const std::vector<StateSeen>& seen, std::uint64_t last,
                    std::uint64_t first = 1) {
  std::map<std::uint64_t, int> live;
  std::map<std::uint64_t, bool> any;
  std::uint64_t last_backlog = 0;
  for (const StateSeen& s : seen) {
    any[s.seq] = true;
    EXPECT_DOUBLE_EQ(s.current, static_cast<double>(s.seq - first + 1)) << "seq " << s.seq;
    if (s.backlog) {
      EXPECT_GT(s.seq, last_backlog) << "the backlog goes oldest first";
      last_backlog = s.seq;
    } else {
      ++live[s.seq];
    }
  }
  for (std::uint64_t seq = first; seq <= last; ++seq)
    EXPECT_TRUE(any[seq]) << "seq " << seq << " missing";
  for (const auto& [seq, count] : live) EXPECT_EQ(count, 1) << "seq " << seq << " sent live twice";
}

TEST(SitePublisherTest, AHostStartedAgainSendsWhatTheOneBeforeLeftAndNumbersOn) {
  TestFolder folder;
  TestBroker broker(folder);
  Site site(folder);
  site.Open(broker.Url());  // the broker is not there yet
  for (int i = 0; i < 3; ++i) site.Round();
  site.Close();

  broker.Start();
  TestSubscriber sub(broker.Port(), "halvex/#");
  site.Open(broker.Url());
  EXPECT_EQ(site.Counts().waiting, 6u) << "the messages kept by the host before";
  ASSERT_TRUE(site.TickUntil([&] { return site.Counts().connected; }));
  site.Round();  // the second host's first round: number 4, live
  ASSERT_TRUE(site.TickUntil([&] { return site.Counts().waiting == 0; }));
  for (unsigned id : {1u, 2u}) {
    const std::vector<StateSeen> seen = States(sub, Site::Name(id));
    ASSERT_EQ(seen.size(), 4u);
    ExpectComplete(seen, 4);
    for (const StateSeen& s : seen) EXPECT_EQ(s.backlog, s.seq != 4) << "seq " << s.seq;
  }
  EXPECT_EQ(site.Sequences()[2].acknowledged, 4u);

  // A stale device is told apart from one that answers.
  site.Tick(DataState::kStale);
  EXPECT_TRUE(sub.WaitFor("halvex/string-A/availability", "stale"));
  EXPECT_TRUE(sub.WaitFor("halvex/string-B/availability", "online"));
}

TEST(SitePublisherTest, AnAcknowledgedMessageIsNotSentAgainWhileItsRowAwaitsDeletion) {
  TestFolder folder;
  TestBroker broker(folder);
  broker.Start();
  Site site(folder);
  site.Open(broker.Url());
  site.HoldAcknowledgements();
  ASSERT_TRUE(site.TickUntil([&] { return site.Counts().connected; }));
  site.Round();
  site.Round();
  ASSERT_TRUE(site.TickUntil([&] { return site.Counts().published == 4; }));
  broker.Stop();
  ASSERT_TRUE(site.TickUntil([&] { return !site.Counts().connected; }));
  site.Round();  // number 3 waits in the database, beside the acknowledged 1 and 2
  broker.Start();
  TestSubscriber sub(broker.Port(), "halvex/#");
  ASSERT_TRUE(site.TickUntil([&] {
    const std::vector<StateSeen> seen = States(sub, "string-B");
    return !seen.empty() && seen.back().seq == 3;
  }));
  site.TickUntil([] { return false; }, milliseconds(500));
  for (unsigned id : {1u, 2u}) {
    const std::vector<StateSeen> seen = States(sub, Site::Name(id));
    ASSERT_EQ(seen.size(), 1u) << Site::Name(id);
    EXPECT_EQ(seen[0].seq, 3u);
    EXPECT_TRUE(seen[0].backlog);
  }
  EXPECT_EQ(site.Counts().backlog, 2u);
}

TEST(SitePublisherTest, ABacklogOlderThanTheLimitIsSkippedAndCounted) {
  TestFolder folder;
  TestBroker broker(folder);
  Site site(folder);
  site.Open(broker.Url(), 1.0 / 3600);  // one second
  for (int i = 0; i < 2; ++i) site.Round();
  std::this_thread::sleep_for(milliseconds(2100));
  broker.Start();
  TestSubscriber sub(broker.Port(), "halvex/#");
  ASSERT_TRUE(site.TickUntil([&] { return site.Counts().waiting == 0; }));
  EXPECT_EQ(site.Counts().skipped, 4u);
  EXPECT_EQ(site.Counts().backlog, 0u);
  EXPECT_TRUE(States(sub, "string-A").empty());
  EXPECT_EQ(site.Sequences()[1].acknowledged, 0u) << "skipped is not acknowledged";
}

TEST(SitePublisherTest, DiscoveryIsSentAgainWhenAskedAndLeftDevicesAreRemoved) {
  TestFolder folder;
  TestBroker broker(folder);
  broker.Start();
  // A device an earlier site had, still retained at the broker.
  const std::string gone =
      "homeassistant/sensor/gw-" + std::to_string(::getpid()) + "/string-Z_current/config";
  {
    TestSubscriber seed(broker.Port(), "none");
    seed.Publish(gone, "{\"name\":\"Current\"}", true);
  }
  TestSubscriber sub(broker.Port(), "homeassistant/#");
  Site site(folder);
  site.Open(broker.Url());
  ASSERT_TRUE(site.TickUntil([&] { return sub.Count(gone, "") == 1; }))
      << "the left device's configuration is removed";
  const std::string config =
      "homeassistant/sensor/gw-" + std::to_string(::getpid()) + "/string-B_current/config";
  ASSERT_TRUE(site.TickUntil([&] { return sub.Count(config) >= 1; }));
  const int before = sub.Count(config);

  sub.Publish("homeassistant/status", "online", false);
  ASSERT_TRUE(site.TickUntil([&] { return sub.Count(config) > before; }));
  EXPECT_EQ(Parse(sub.Last(config))["device"]["model"].asString(), "halvex_30");
}

}  // namespace
}  // namespace runner::publish
