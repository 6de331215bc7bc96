#include "runner/lines/device_controller.h"

#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "host/qorv_spdevice.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

using boost::posix_time::time_from_string;

// A device that calls the host as the plug-in's devices do; its one value
// for peers is its string voltage.
class StubDevice : public QorvSPDevice {
 public:
  float Get_Value(unsigned, const std::string& name) const override {
    if (name == "group_voltage") return 402.5f;
    throw std::out_of_range("no value " + name);
  }
  bool LoadFromCache(const unsigned char*, int) override { return false; }
};

// What a capture is told while the device runs.
class NoteRecorder : public DeviceRecorder {
 public:
  explicit NoteRecorder(std::vector<std::string>& notes) : notes_(notes) {}
  void Begin(boost::posix_time::ptime) override {}
  void PeerAnswer(unsigned id, const std::string& name, std::optional<float> value) override {
    notes_.push_back("peer " + std::to_string(id) + " " + name + " " +
                     (value ? std::to_string(*value) : "none"));
  }
  void Published(const Bytes&) override {}
  void Create(std::uint32_t, unsigned) override {}
  void Configure(const Json::Value&) override {}
  void IoControl(int, const Bytes&) override {}
  void Cache(const Bytes&) override {}
  void Tick() override {}
  void Receive(const Bytes&, int) override {}

 private:
  std::vector<std::string>& notes_;
};

std::vector<unsigned char> Record(unsigned data_id, float temperature) {
  BatteryRecord r;
  r.data_id = data_id;
  for (std::size_t k = 0; k < kRecordCellSlots; ++k) r.cells[k] = 13.3f;
  r.group_voltage = 399.0f;
  r.temperature = temperature;
  return EncodeRecord(r);
}

// Devices A (data id 1: a temperature limit, a 5-minute save interval) and
// B (data id 2) under one controller with a real history database; the
// line writer notes each frame and answers `line_answer`.
class DeviceControllerTest : public ::testing::Test {
 protected:
  DeviceControllerTest() {
    controller_ = std::make_shared<DeviceController>(
        clock_, events_, writer_.get(),
        [this](DeviceSlot& slot, const unsigned char*, unsigned len) {
          frames_.push_back(slot.settings.name + " " + std::to_string(len));
          return line_answer_;
        });
    controller_->OnRound([this](const RoundResult& r) { rounds_.push_back(r); });
    Configure(a_, "A", 1, LimitTable({{"temperature", std::nullopt, 40.0f, 2.0f}}));
    Configure(b_, "B", 2, {});
  }

  void Configure(DeviceSlot& slot, const char* name, unsigned id, LimitTable limits) {
    slot.settings.name = name;
    slot.settings.data_id = id;
    slot.settings.save_interval_minutes = 5;
    slot.alarms = AlarmBook(std::move(limits));
    slot.cells = {{0, 1, 2}, 3, 1};
    slot.device = std::make_shared<StubDevice>();
    slot.device->Init(controller_, id, Json::Value(Json::objectValue));
    controller_->Attach(slot);
  }

  std::vector<std::string> Events() {
    std::vector<std::string> texts;
    for (const std::string& line : events_.TakeNew()) texts.push_back(line.substr(20));
    return texts;
  }

  halvex::testing::TestFolder folder_;
  ManualHostClock clock_{time_from_string("2026-03-01 10:00:00")};
  EventLog events_{clock_};
  std::unique_ptr<HistoryWriter> writer_ =
      std::make_unique<HistoryWriter>(HistoryStore::Open(folder_ / "history.db"));
  std::shared_ptr<DeviceController> controller_;
  DeviceSlot a_, b_;
  int line_answer_ = 4;
  std::vector<std::string> frames_;
  std::vector<RoundResult> rounds_;
};

// Frames go to the sender's line; a peer's value is asked of the device
// with that data id, and the answer (or that there was none) is told to the
// capture of the device the host is calling into.
TEST_F(DeviceControllerTest, EachCallReachesItsDeviceAndItsCapture) {
  const unsigned char frame[4] = {0xFE, 0xFE, 0x81, 0xA1};
  EXPECT_EQ(b_.device->SendData(frame, 4), 4);
  line_answer_ = -1;  // A's line is down
  EXPECT_EQ(a_.device->SendData(frame, 4), -1);
  EXPECT_EQ(frames_, (std::vector<std::string>{"B 4", "A 4"}));

  std::vector<std::string> notes;
  a_.recorder = std::make_unique<NoteRecorder>(notes);
  controller_->CallingInto(&a_);
  EXPECT_FLOAT_EQ(a_.device->Get_SP_Value(2, "group_voltage"), 402.5f);
  EXPECT_THROW(a_.device->Get_SP_Value(9, "group_voltage"), std::out_of_range);
  EXPECT_THROW(a_.device->Get_SP_Value(2, "nonsense"), std::out_of_range);
  controller_->CallingInto(nullptr);
  EXPECT_FLOAT_EQ(b_.device->Get_SP_Value(2, "group_voltage"), 402.5f) << "told to no capture";
  EXPECT_EQ(notes, (std::vector<std::string>{"peer 2 group_voltage 402.500000",
                                             "peer 9 group_voltage none", "peer 2 nonsense none"}));
}

// Device A's rounds as the plug-in runs them: its checks, the record
// published (a health alarm or a late check may follow), the record handed
// to history. The temperature limit is 40
// with 2 of hysteresis; rows are kept first, every 5 minutes and when an
// alarm moved.
TEST_F(DeviceControllerTest, EachRoundIsCheckedPublishedOnceAndKeptAsThePolicySays) {
  struct Round {
    const char* name;
    long at_s;
    float temperature;
    bool late;          // the check comes after the record was published
    const char* alarm;  // the change the round carries; "" none
    bool holds;         // the alarm holds after the round
    const char* row;    // the history row's reason; "" none
  };
  const Round rounds[] = {
      {"the first round is kept", 0, 30.0f, false, "", false, "first"},
      {"a quiet round inside the interval is not", 60, 31.0f, false, "", false, ""},
      {"a raised alarm is told, stamped and kept", 120, 45.0f, false, "raised", true, "alarm"},
      {"inside the hysteresis nothing moves", 180, 39.0f, false, "", true, ""},
      {"a clear found after publication joins its round", 240, 37.0f, true, "cleared", false,
       "alarm"},
      {"the interval comes round", 300, 30.0f, false, "", false, "interval"},
  };
  std::vector<std::string> rows_expected;
  for (const Round& r : rounds) {
    SCOPED_TRACE(r.name);
    clock_.Set(time_from_string("2026-03-01 10:00:00") + boost::posix_time::seconds(r.at_s));
    const std::vector<unsigned char> record = Record(1, r.temperature);
    rounds_.clear();
    if (!r.late) a_.device->CheckThreshold("temperature", "Temperature", r.temperature, 1);
    a_.device->SendSP(0, record.data(), static_cast<unsigned>(record.size()), true);
    if (r.late) a_.device->CheckThreshold("temperature", "Temperature", r.temperature, 1);
    EXPECT_TRUE(rounds_.empty()) << "readers get the round once its history is handed over";
    a_.device->SaveDeviceHistory(record.data(), static_cast<unsigned>(record.size()));

    ASSERT_EQ(rounds_.size(), 1u);
    EXPECT_EQ(rounds_[0].device, "A");
    EXPECT_EQ(rounds_[0].raw, record);
    EXPECT_FLOAT_EQ(rounds_[0].record.temperature, r.temperature);
    const std::string alarm = r.alarm;
    ASSERT_EQ(rounds_[0].alarm_changes.size(), alarm.empty() ? 0u : 1u);
    const std::vector<std::string> told = Events();
    ASSERT_EQ(told.size(), alarm.empty() ? 0u : 1u);
    if (!alarm.empty()) {
      EXPECT_EQ(rounds_[0].alarm_changes[0].raised, alarm == "raised");
      EXPECT_EQ(a_.last_round->alarm_changes.size(), 1u) << "the view shows the same round";
      EXPECT_EQ(told[0].rfind("alarm " + alarm + ": A Temperature (temperature, point 1) high", 0),
                0u)
          << told[0];
    }
    const auto since = a_.alarm_since.find(AlarmKey("temperature", 1));
    ASSERT_EQ(since != a_.alarm_since.end(), r.holds);
    if (r.holds) {
      EXPECT_EQ(since->second.substr(0, 19), "2026-03-01T10:02:00") << "when raised";
    }
    if (*r.row) rows_expected.push_back(r.row);
  }
  EXPECT_EQ(controller_->TakePublished(), std::size(rounds));
  EXPECT_EQ(controller_->TakePublished(), 0u);
  EXPECT_EQ(a_.link.counters().rounds, std::size(rounds));

  ASSERT_TRUE(writer_->WaitIdle(std::chrono::seconds(5)));
  HistoryStore* store = writer_->store();
  ASSERT_NE(store, nullptr);
  std::vector<std::string> rows;
  store->ForEachRow(1, {}, [&](const HistoryRow& row) { rows.push_back(row.reason); });
  EXPECT_EQ(rows, rows_expected);
  EXPECT_EQ(store->ForEachAlarm(1, {}, [](const AlarmRow&) {}), 2u);
}

// After DetachAll (the host stopping) a device may still call: nothing is
// sent, published, checked or kept.
TEST_F(DeviceControllerTest, CallsFromADeviceTheHostNoLongerKnowsAreIgnored) {
  controller_->DetachAll();
  const unsigned char frame[4] = {0xFE, 0xFE, 0x81, 0xA1};
  const std::vector<unsigned char> record = Record(1, 50.0f);
  EXPECT_EQ(a_.device->SendData(frame, 4), -1);
  a_.device->CheckThreshold("temperature", "Temperature", 50.0f, 1);
  a_.device->SendSP(0, record.data(), static_cast<unsigned>(record.size()), true);
  a_.device->SaveDeviceHistory(record.data(), static_cast<unsigned>(record.size()));
  EXPECT_THROW(a_.device->Get_SP_Value(2, "group_voltage"), std::out_of_range);
  EXPECT_TRUE(frames_.empty());
  EXPECT_TRUE(Events().empty());
  EXPECT_TRUE(rounds_.empty());
  EXPECT_EQ(controller_->TakePublished(), 0u);
  EXPECT_FALSE(a_.last_round);
}

}  // namespace
}  // namespace runner
