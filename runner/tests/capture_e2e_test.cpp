// A capture replays byte for byte: the demo's two monitors on a line with
// drops, split and corrupted replies and a silence, run with a capture whose
// parts are cut small; each part, replayed through the plug-in on its own,
// gives exactly the records the host stored in history for those rounds.
// The host runs on the wall clock in a zone east of UTC, as in the field:
// the capture must carry the local time the devices read.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runner/lines/poller.h"
#include "runner/plugin_access/plugin_library.h"
#include "runner/replay/capture_directory.h"
#include "runner/replay/replayer.h"
#include "runner/site/demo_site.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using recording::HostCall;

class ZoneForTest {
 public:
  explicit ZoneForTest(const char* zone) {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneForTest() {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

Json::Value FaultyDemo(const std::string& db) {
  Json::Value site = DemoSiteJson(false, db);
  site["poll_period_s"] = 0.1;
  site["reply_timeout_ms"] = 60;
  for (Json::Value& monitor : site["ports"][0]["sim"]["monitors"]) {
    Json::Value& faults = monitor["faults"];
    faults["drop"] = 0.05;
    faults["corrupt"] = 0.05;
    faults["split"] = 0.3;
    faults["split_gap_ms"] = 5;
    Json::Value silence;
    silence["type"] = "silence";
    silence["at_s"] = 1.5;
    silence["for_s"] = 0.6;
    monitor["events"].append(silence);
  }
  return site;
}

// The records a scenario makes the device hand to history.
std::vector<Bytes> ReplayedRecords(const std::string& scenario) {
  qorv::PluginLibrary plugin(HALVEX_PLUGIN_PATH);
  std::ostringstream transcript;
  replay::Replayer replayer([&plugin] { return plugin.CreateDevice(); }, transcript, false);
  replayer.Run(replay::LoadScenario(scenario), scenario);
  std::vector<Bytes> records;
  for (const HostCall& call : replayer.Host().CallsOf(HostCall::Kind::kSaveDeviceHistory))
    records.push_back(call.bytes);
  return records;
}

TEST(CaptureE2e, EachPartOfACaptureReplaysTheStoredRecordsOfItsRounds) {
  halvex::testing::TestFolder folder;
  const std::string dir = folder.path();
  const std::string db = dir + "/history.db";
  const ZoneForTest zone("CST-8");
  {
    PollerOptions options;
    options.default_plugin = HALVEX_PLUGIN_PATH;
    options.event_sink = [](const std::string&) {};
    options.capture = std::make_shared<replay::CaptureDirectory>(dir + "/capture", 4 * 1024);
    Site site = ParseSite(FaultyDemo(db), "faulty demo", "");
    // Every round a history row: less than a site file may ask for.
    for (DeviceSettings& device : site.devices) device.save_interval_minutes = 0;
    Poller host(std::move(site), options);
    host.Start();
    host.Run(50, [](const RoundReport&) {});
    host.Stop();
  }
  auto store = HistoryStore::OpenReadOnly(db);
  for (const auto& [name, data_id] : {std::pair<std::string, unsigned>{"string-A", 1},
                                      std::pair<std::string, unsigned>{"string-B", 2}}) {
    SCOPED_TRACE(name);
    std::vector<Bytes> stored;
    store->ForEachRow(data_id, {}, [&](const HistoryRow& row) { stored.push_back(row.raw); });
    ASSERT_GE(stored.size(), 15u) << "the faults cost rounds, not most of them";
    ASSERT_LT(stored.size(), 50u) << "the faults cost some rounds";

    const fs::path first = fs::path(dir) / "capture" / (name + ".scn");
    std::vector<Bytes> replayed;
    int parts = 0;
    for (fs::path part = first; fs::exists(part);
         part = replay::CaptureDirectory::PartPath(first, ++parts + 1)) {
      SCOPED_TRACE(part.filename().string());
      const std::vector<Bytes> records = ReplayedRecords(part.string());
      replayed.insert(replayed.end(), records.begin(), records.end());
    }
    EXPECT_GE(parts, 2) << "the size limit cut the capture";
    ASSERT_EQ(replayed.size(), stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i)
      EXPECT_EQ(replayed[i], stored[i]) << "record " << i;
  }
}

TEST(CaptureDirectory, APathThatCannotHoldCapturesIsRefusedByName) {
  halvex::testing::TestFolder folder;
  const std::string file = folder / "capture_not_a_dir";
  std::ofstream(file) << "x";
  struct Case {
    std::string dir;
    std::string message;
  };
  for (const Case& c :
       {Case{file, "capture directory " + file + ": not a directory"},
        Case{file + "/sub", "capture directory " + file + "/sub: cannot make it: "},
        Case{"/proc/capture", "capture directory /proc/capture: cannot make it: "}}) {
    SCOPED_TRACE(c.dir);
    try {
      replay::CaptureDirectory capture(c.dir, 0);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

}  // namespace
}  // namespace runner
