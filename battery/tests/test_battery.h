#pragma once
// A concrete Battery for tests: its cell reply handling only checks the
// frame's header and length, and RoundDone counts rounds. Members are
// exposed so tests can read the poll state.

#include <memory>
#include <string>
#include <vector>

#include <json/json.h>

#include "battery/battery.h"
#include "runner/recording/recording_controller.h"

namespace halvex::testing {

// The recording host's names, for every battery test.
using namespace runner::recording;

class TestBattery : public Battery {
 public:
  using Battery::active_batteries_;
  using Battery::addr_;
  using Battery::battery_adjust_;
  using Battery::battery_start_;
  using Battery::battery_type_;
  using Battery::call_state_;
  using Battery::current_ratio_;
  using Battery::data_ready_;
  using Battery::dir_;
  using Battery::group_a_;
  using Battery::group_b_;
  using Battery::group_current_;
  using Battery::group_voltage_;
  using Battery::group_voltage_ids_;
  using Battery::group_voltage_valid_;
  using Battery::msg_buf;
  using Battery::msg_len_;
  using Battery::r_current_field_;
  using Battery::r_data_id_;
  using Battery::retry_count_;
  using Battery::save_interval_;
  using Battery::t0_;
  using Battery::t31_;
  using Battery::temperature_;
  using Battery::update_time_;
  using Battery::version_;

  int ProcessBatteryVoltage() override {
    if (msg_len_ < 67) return 1;
    msg_len_ = 0;
    if (msg_buf[0] != 0xED || msg_buf[1] != addr_) {
      call_state_ = 0;
      return 0;
    }
    CallGroupVoltage();
    return 1;
  }
  bool LoadFromCache(const unsigned char*, int) override { return false; }
  using Battery::LoadFromCache;
  void RoundDone() override { ++rounds; }

  int rounds = 0;
};

// Reply frames built from the wire format, independently of the code under test.
inline unsigned char WireChecksum(const std::vector<unsigned char>& covered) {
  unsigned sum = 0;
  for (unsigned char b : covered) sum += b;
  return static_cast<unsigned char>((sum & 0xFF) % 254);
}

inline std::vector<unsigned char> ScalarReply(unsigned char address, unsigned value) {
  std::vector<unsigned char> f = {0xED, address, static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(value & 0xFF)};
  f.push_back(WireChecksum({f.begin() + 1, f.end()}));
  return f;
}

inline std::vector<unsigned char> CellReply(unsigned char address, unsigned reading) {
  std::vector<unsigned char> f = {0xED, address};
  for (int i = 0; i < 32; ++i) {
    f.push_back(static_cast<unsigned char>(reading >> 8));
    f.push_back(static_cast<unsigned char>(reading & 0xFF));
  }
  f.push_back(WireChecksum({f.begin() + 1, f.end()}));
  return f;
}

inline Json::Value ParseJson(const std::string& text) {
  Json::Value v;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &v, &errors))
    throw std::runtime_error("bad test JSON: " + errors + " in " + text);
  return v;
}

// A battery bound to a recording host, configured address 1 (0x81 on the wire).
struct BatteryOnBench {
  explicit BatteryOnBench(const std::string& config = "{}") {
    Json::Value host_setting;
    host_setting["address"] = 1;
    dev.Init(host, 5, host_setting);
    dev.InitSetting(ParseJson(config));
  }
  int Feed(const std::vector<unsigned char>& bytes) {
    std::vector<unsigned char> copy = bytes;
    return dev.process(copy.data(), static_cast<unsigned>(copy.size()));
  }
  int Feed(const std::string& hex) { return Feed(Bytes(hex)); }
  // Runs the cycle up to the reply awaited in `state` (2, 3 or 4).
  void RunTo(int state) {
    dev.RefreshStatus();
    Feed(CellReply(0x81, 1330));
    if (state >= 3) Feed(ScalarReply(0x81, 4000));
    if (state >= 4) Feed(ScalarReply(0x81, 50));
  }

  std::shared_ptr<RecordingController> host = std::make_shared<RecordingController>();
  TestBattery dev;
};

}  // namespace halvex::testing
