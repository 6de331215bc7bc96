// halvex_callgrind_driver: instruction counts of a poll round and of value
// queries, for scripts/callgrind.sh. Instruction counts repeat exactly from
// run to run, where wall times on a shared machine do not.
//
// Under valgrind --tool=callgrind --instr-atstart=no each operation first
// runs uninstrumented a few times, so that first-call work (lazy symbol
// binding, the unwinder's first look-up, the time zone) stays out of the
// count; then it runs `--repeat N` times between
// CALLGRIND_START_INSTRUMENTATION and _STOP_, and its counts are dumped
// under its name ("round_wall_clock/N", ...). Outside valgrind the requests
// do nothing and the driver simply runs.

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <valgrind/callgrind.h>

#include "bench/null_controller.h"
#include "bench/poll_round.h"
#include "bench/regex_query.h"
#include "runner/recording/output_capture.h"

namespace halvex::bench {
namespace {

constexpr int kWarmUp = 20;  // uninstrumented runs of each operation

struct Rig {
  std::shared_ptr<QorvController> host;
  DevicePtr device;
  MonitorReplies replies{kWireAddress};
};

template <typename Host>
Rig MakeRig(DevicePtr device) {
  Rig rig{std::make_shared<Host>(), std::move(device)};
  SetUpDevice(*rig.device, rig.host, TypicalConfig());
  if (!RunPollRound(*rig.device, rig.replies))
    throw std::runtime_error("the device refused a reply");
  return rig;
}

template <typename Operation>
void Count(const std::string& name, int repeat, Operation operation) {
  const std::string label = name + "/" + std::to_string(repeat);
  for (int i = 0; i < kWarmUp; ++i) operation();
  CALLGRIND_START_INSTRUMENTATION;
  CALLGRIND_ZERO_STATS;
  for (int i = 0; i < repeat; ++i) operation();
  CALLGRIND_DUMP_STATS_AT(label.c_str());
  CALLGRIND_STOP_INSTRUMENTATION;
}

float QueryOrZero(const QorvSPDevice& device, const std::string& name) {
  try {
    return device.Get_Value(0, name);
  } catch (const std::out_of_range&) {
    return 0.0f;
  }
}

int Repeat(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--repeat") return std::max(1, std::atoi(argv[i + 1]));
  return 1;
}

}  // namespace
}  // namespace halvex::bench

int main(int argc, char** argv) {
  using namespace halvex::bench;
  const int repeat = Repeat(argc, argv);
  // The devices' log lines go nowhere.
  std::optional<runner::recording::QuietCout> quiet;
  quiet.emplace(runner::recording::QuietCout::WriteCost::kKept);

  Rig wall = MakeRig<NullController>(DevicePtr(LinkedProvider().create()));
  Rig frozen = MakeRig<FrozenClockController>(DevicePtr(LinkedProvider().create()));
  Rig baseline = MakeRig<NullController>(DevicePtr(new RegexQueryHalvex30()));
  const std::string cell = "battery_17_value";
  const std::string group = "group_voltage";
  const std::string unknown = "string_power";
  volatile float sink = 0.0f;

  Count("round_wall_clock", repeat, [&] { RunPollRound(*wall.device, wall.replies); });
  Count("round_frozen_clock", repeat, [&] { RunPollRound(*frozen.device, frozen.replies); });
  Count("query_cell", repeat, [&] { sink = QueryOrZero(*wall.device, cell); });
  Count("query_cell_frozen_clock", repeat, [&] { sink = QueryOrZero(*frozen.device, cell); });
  Count("query_group_voltage", repeat, [&] { sink = QueryOrZero(*wall.device, group); });
  Count("query_unknown_name", repeat, [&] { sink = QueryOrZero(*wall.device, unknown); });
  Count("regex_baseline_query_cell", repeat, [&] { sink = QueryOrZero(*baseline.device, cell); });
  (void)sink;

  quiet.reset();
  std::cout << "measured " << repeat << " of each operation\n";
  return 0;
}
