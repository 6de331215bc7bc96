#pragma once
// A Halvex30 on a recording host, driven one step at a time, with the
// invariants that must hold whatever bytes, queries, caches and clock moves
// it is given. After every step:
//
//   - the reply buffer holds at most 80 bytes, and only bytes received, in
//     the order they came (a prefix of what the gathering rule keeps);
//   - the poll state is 0..4;
//   - cells from the cell count up stay 0.0, live and in the record (a cache
//     image may put its own values there until the next round refreshes it);
//   - a cell reply is taken exactly when it is a good one: 67 bytes from the
//     start byte, this monitor's address, the right checksum; the cells then
//     hold what its readings say, each 0.0 or inside its block type's window
//     (whatever trims the configuration holds);
//   - every request is a well-formed 5-byte frame for this monitor;
//   - every record published (SendSP) or handed to history carries exactly
//     152 bytes, the published one under type code 5013, cells 30 and 31
//     0.0, and no cell value that no accepted reply or cache delivered;
//   - no query returns a cell value that no accepted reply or cache
//     delivered, and queries fail only with the three texts of the host
//     interface;
//   - no exception leaves the device, except the JSON library's own from
//     Configure.
//
// The first violation is kept; later steps then do nothing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <json/value.h>

#include "fuzz/device_probe.h"
#include "runner/recording/recording_controller.h"

namespace halvex::fuzz {

constexpr unsigned kHarnessDataId = 7;
constexpr int kHarnessAddress = 1;  // 0x81 on the wire once configured

class DeviceHarness {
 public:
  // A device bound to a fresh recording host at address 1, not yet configured.
  DeviceHarness();

  // InitSetting with `config`. The JSON library's exceptions propagate.
  void Configure(const Json::Value& config);

  bool Feed(const std::vector<std::uint8_t>& chunk);
  bool Tick();
  bool Query(const std::string& name);
  bool IoControl(int code, const void* in, int in_len);
  bool LoadCache(const std::uint8_t* image, int len);
  void MoveClock(long seconds) { host_->Advance(seconds); }

  // The invariants on the device as it is now, and on the host calls made
  // since the last check.
  bool Check();

  bool ok() const { return violation_.empty(); }
  const std::string& violation() const { return violation_; }

  DeviceProbe& device() { return *device_; }
  runner::recording::RecordingController& host() { return *host_; }
  // Rounds completed so far (records handed to history).
  int rounds() const { return rounds_; }

 private:
  using CellValues = std::array<std::set<std::uint32_t>, 32>;

  bool Fail(const std::string& what);
  bool Guard(const char* step, const std::function<void()>& call);
  void Gather(const std::vector<std::uint8_t>& chunk);
  bool CheckCellVerdict(bool accepted);
  void DeliverFrame(const std::vector<std::uint8_t>& frame);
  bool CheckBuffer();
  bool CheckCells();
  bool CheckNewCalls();
  bool CheckRequest(const std::vector<std::uint8_t>& frame);
  bool CheckRecordImage(const char* what, const std::vector<std::uint8_t>& image);
  bool Delivered(int cell, float value) const;
  bool SentSince(std::size_t first_call, std::uint8_t command) const;

  std::shared_ptr<runner::recording::RecordingController> host_;
  std::unique_ptr<DeviceProbe> device_;
  std::vector<std::uint8_t> gathered_;  // what the gathering rule keeps, independently
  CellValues delivered_;                // per cell: float bits any accepted reply or cache gave
  std::array<std::uint32_t, 2> cache_tail_{};  // cells 30 and 31 of the last cache image
  std::size_t checked_calls_ = 0;
  int rounds_ = 0;
  std::string violation_;
};

// The cell that a value name asks for by the rule hosts rely on (the
// leftmost "battery_<digits>_value", number below 30), found with
// std::regex_search; -1 for none.
int OracleCell(const std::string& name);

}  // namespace halvex::fuzz
