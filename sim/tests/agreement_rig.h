#pragma once
// A simulated monitor wired to a real Halvex30 on a recording host, to show
// that what the device publishes is what the monitor sent.
//
//   tick ──> RefreshStatus ──> SendData frame ──> Bus ──> reply chunks ──> process
//                 ^                                                           │
//                 └──── next request (SendData) ◄─────────────────────────────┘
//
// Ticks fall every poll period on the simulator's ManualClock; the host's
// clock follows it to the microsecond. Every reply chunk moves the clock by
// its line time before the device sees it, and the device's next request
// goes on the line only after the last chunk of the reply before it, as on a
// real port. For every published record the rig keeps the readings of the
// four replies the device accepted in that round (the last reply to each
// command since the round began), so a test can compare the record with what
// the monitor actually sent.
//
//   AgreementRig rig({monitor, app_setting});
//   rig.RunRounds(50);
//   for (const PublishedRound& r : rig.rounds()) EXPECT_TRUE(DecodedOf(r.record) == r.expected);

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <json/value.h>

#include "celldata/battery32_record.h"
#include "celldata/halvex30.h"
#include "runner/recording/recording_controller.h"
#include "sim/bus.h"

namespace sim::agreement {

inline constexpr int kStringCells = 30;  // cells a Halvex30 decodes

// The values of one round as single-precision floats, the way the record
// carries them.
struct Values {
  std::array<float, kStringCells> cells{};
  float group = 0.0f;
  float current = 0.0f;
  float temperature = 0.0f;

  bool operator==(const Values& other) const;
  bool operator!=(const Values& other) const { return !(*this == other); }
};

// The 30 cells, group voltage, current and temperature of a published record.
Values DecodedOf(const Battery32_Data_t& record);

// What a device set up for `profile` (block type, group scale and current
// encoding agreeing with the monitor's) must decode from `sent`: each count
// divided in single precision, cells outside the block window as 0.0, a
// group voltage below 40 V replaced by the sum of the cells, a temperature
// outside (0, 100] degC leaving `previous_temperature` in place.
Values Expected(const Readings& sent, const MonitorProfile& profile, float previous_temperature);

// Chance that one random byte change (position uniform over the frame, new
// value uniform over the other 255) slips through the reply checksum. The
// sum mod 254 maps only 0 and 254, and 1 and 255, onto the same checksum,
// so a changed payload byte passes only when the 8-bit sum of the clean
// frame sits on one of those four values and the byte moves by exactly 2.
double UndetectedChance(const Bytes& clean_reply);

// The device's "address" 1 (wire 0x81) with `app_setting` as its "appSetting".
void Configure(Halvex30& device,
               const std::shared_ptr<runner::recording::RecordingController>& host,
               const Json::Value& app_setting, unsigned data_id = 7);

struct RigSetup {
  MonitorSetup monitor;                          // the default answers on 0x81
  Json::Value app_setting = Json::objectValue;   // the device's "appSetting"
  uint64_t seed = 1;                             // the bus seed
  Micros poll_period = std::chrono::seconds{1};  // time between ticks
};

// One record the device published, beside what it should hold.
struct PublishedRound {
  Battery32_Data_t record{};
  Readings sent;                     // counts of the accepted replies
  std::array<Micros, 4> asked_at{};  // when each accepted reply was asked for, A1..A4
  bool corrupted = false;            // an accepted reply had a byte changed on the way
  Values expected;                   // Expected(sent, ...) after the previous round
};

struct Tally {
  uint64_t ticks = 0;
  uint64_t rounds_started = 0;      // the device began a cycle (host RefreshStatus)
  uint64_t rounds_completed = 0;    // records published
  uint64_t resends = 0;             // ticks that asked an unanswered question again
  uint64_t refused_cell = 0;        // cell replies the device turned down
  uint64_t refused_scalar = 0;      // group, current and temperature replies turned down
  uint64_t corrupted_taken = 0;     // corrupted replies the device took as good
  double expected_undetected = 0;   // sum of UndetectedChance over corrupted replies
  uint64_t corrupted_accepted = 0;  // published rounds that took a corrupted reply
  uint64_t differing = 0;           // published rounds whose record differs from what was sent

  uint64_t refused() const { return refused_cell + refused_scalar; }
};

class AgreementRig {
 public:
  // Throws ConfigError for a bad profile or fault plan.
  explicit AgreementRig(RigSetup setup);
  AgreementRig(const AgreementRig&) = delete;  // the bus calls back into this object
  AgreementRig& operator=(const AgreementRig&) = delete;

  // Ticks until `rounds` more cycles have begun and the last of them has
  // ended (published, refused or given up). The tick that begins the cycle
  // after them is held back and goes out first on the next call.
  void RunRounds(uint64_t rounds);

  const std::vector<PublishedRound>& rounds() const { return rounds_; }
  const Tally& tally() const { return tally_; }
  const Bus& bus() const { return bus_; }
  const Monitor& monitor() const { return *bus_.FindMonitor(setup_.monitor.profile.address); }

 private:
  struct Asked {
    Micros at{0};
    bool corrupted = false;
  };

  void Tick();
  void Pump();
  void Deliver(const Chunk& chunk);
  void Collect();
  void Publish(const runner::recording::HostCall& call);
  void Heard(const Exchange& exchange);
  void SyncHostClock();

  RigSetup setup_;
  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  Bus bus_;
  std::shared_ptr<runner::recording::RecordingController> host_ =
      std::make_shared<runner::recording::RecordingController>();
  boost::posix_time::ptime host_epoch_;
  Halvex30 device_;

  Micros next_tick_{0};
  std::deque<Bytes> outbox_;      // requests the device sent, not yet on the line
  uint8_t last_command_ = 0;      // of the last request on the line
  bool awaiting_ = false;         // the device waits for a reply
  bool held_ = false;             // a tick beginning a cycle is held back
  bool published_ = false;        // during the current device call
  bool reply_corrupted_ = false;  // the reply on the line had a byte changed
  std::array<Asked, 4> asked_{};  // last answered request per command, this cycle
  std::vector<PublishedRound> rounds_;
  Tally tally_;
};

}  // namespace sim::agreement
