// halvex_bench: what the plug-in costs the host. One poll round against a
// host that does nothing, value queries beside the regex baseline, set-up
// and cache restore; the summary at the end gives the round's share of the
// wire time and the query ratios, computed from this run.
//
//   halvex_bench [--benchmark_...]      (scripts/bench.sh runs it)

#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/null_controller.h"
#include "bench/poll_round.h"
#include "bench/regex_query.h"
#include "bench/result_summary.h"
#include "runner/plugin_access/plugin_library.h"
#include "runner/recording/output_capture.h"

namespace halvex::bench {
namespace {

using DeviceFactory = DevicePtr (*)();

DevicePtr LinkedDevice() { return DevicePtr(LinkedProvider().create()); }
DevicePtr RegexQueryDevice() { return DevicePtr(new RegexQueryHalvex30()); }

// A configured device of `provider` after one round: the record holds data.
template <typename Host>
DevicePtr PolledDevice(DevicePtr device, const std::shared_ptr<Host>& host) {
  SetUpDevice(*device, host, TypicalConfig());
  MonitorReplies replies(kWireAddress);
  RunPollRound(*device, replies);
  return device;
}

template <typename Host>
void PollRound(benchmark::State& state, const QorvSPDeviceProvider* provider, unsigned chunk) {
  auto host = std::make_shared<Host>();
  DevicePtr device = PolledDevice(DevicePtr(provider->create()), host);
  MonitorReplies replies(kWireAddress);
  const long checks_before = host->threshold_checks;
  const long history_before = host->history_records;
  for (auto _ : state) {
    if (!RunPollRound(*device, replies, chunk)) {
      state.SkipWithError("the device stopped awaiting replies mid-round");
      return;
    }
  }
  const long rounds = static_cast<long>(state.iterations());
  if (host->history_records - history_before != rounds ||
      host->threshold_checks - checks_before != rounds * kChecksPerRound)
    state.SkipWithError("rounds did not run to the history hand-over with 33 checks");
}

template <typename Host>
void Query(benchmark::State& state, DeviceFactory make, const std::string& name, bool known) {
  auto host = std::make_shared<Host>();
  DevicePtr device = PolledDevice(make(), host);
  long refused = 0;
  for (auto _ : state) {
    try {
      benchmark::DoNotOptimize(device->Get_Value(0, name));
    } catch (const std::out_of_range&) {
      ++refused;
    }
  }
  if (refused != (known ? 0 : static_cast<long>(state.iterations())))
    state.SkipWithError(known ? "a known name was refused" : "an unknown name was answered");
}

// InitSetting runs once per device, so each call gets a fresh device:
// batches of them are made with the timer stopped.
void InitSetting(benchmark::State& state, const Json::Value& config) {
  constexpr std::size_t kBatch = 256;
  auto host = std::make_shared<NullController>();
  Json::Value host_setting(Json::objectValue);
  host_setting["address"] = kConfiguredAddress;
  std::vector<DevicePtr> batch;
  std::size_t next = 0;
  for (auto _ : state) {
    if (next == batch.size()) {
      state.PauseTiming();
      batch.clear();
      for (std::size_t i = 0; i < kBatch; ++i) {
        batch.push_back(LinkedDevice());
        batch.back()->Init(host, kDataId, host_setting);
      }
      next = 0;
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(batch[next++]->InitSetting(config));
  }
}

void LoadFromCache(benchmark::State& state) {
  auto host = std::make_shared<NullController>();
  DevicePtr device = LinkedDevice();
  SetUpDevice(*device, host, TypicalConfig());
  std::vector<unsigned char> image = CachedRecord();
  const int len = static_cast<int>(image.size());
  for (auto _ : state) {
    if (!device->LoadFromCache(image.data(), len)) {
      state.SkipWithError("the cache image was refused");
      return;
    }
  }
}

void RegisterLinkedBenchmarks() {
  const QorvSPDeviceProvider* linked = &LinkedProvider();
  const unsigned whole = wire::kCellReplyLength;
  benchmark::RegisterBenchmark(names::kRoundWallClock, PollRound<NullController>, linked, whole);
  benchmark::RegisterBenchmark(names::kRoundFrozenClock, PollRound<FrozenClockController>, linked,
                               whole);
  // Serial reads seldom return a whole cell reply at once.
  benchmark::RegisterBenchmark("poll_round/wall_clock/cell_reply_in_8_byte_chunks",
                               PollRound<NullController>, linked, 8u);
  benchmark::RegisterBenchmark("poll_round/wall_clock/cell_reply_byte_by_byte",
                               PollRound<NullController>, linked, 1u);

  struct QueryCase {
    const char* ours;
    const char* baseline;
    const char* name;
    bool known;
  };
  const QueryCase queries[] = {
      {names::kCellQuery, names::kCellBaseline, "battery_17_value", true},
      {names::kGroupQuery, names::kGroupBaseline, "group_voltage", true},
      {names::kUnknownQuery, names::kUnknownBaseline, "string_power", false},
  };
  for (const QueryCase& q : queries) {
    benchmark::RegisterBenchmark(q.ours, Query<NullController>, LinkedDevice, std::string(q.name),
                                 q.known);
    benchmark::RegisterBenchmark(q.baseline, Query<NullController>, RegexQueryDevice,
                                 std::string(q.name), q.known);
  }
  benchmark::RegisterBenchmark("query/frozen_clock/battery_17_value", Query<FrozenClockController>,
                               LinkedDevice, std::string("battery_17_value"), true);

  benchmark::RegisterBenchmark("init_setting/typical", InitSetting, TypicalConfig());
  benchmark::RegisterBenchmark("init_setting/threshold_table_33_keys", InitSetting,
                               ThresholdTableConfig());
  benchmark::RegisterBenchmark("load_from_cache", LoadFromCache);
}

#ifdef HALVEX_PLUGIN_PATH
// The same round and query through the loaded halvex_30.so, the shape the
// controller runs: calls cross into the library through its vtables.
std::unique_ptr<qorv::PluginLibrary> RegisterPluginBenchmarks() {
  std::unique_ptr<qorv::PluginLibrary> plugin;
  try {
    plugin = std::make_unique<qorv::PluginLibrary>(HALVEX_PLUGIN_PATH);
  } catch (const std::runtime_error& e) {
    std::cerr << "halvex_bench: skipping the loaded-plugin benchmarks: " << e.what() << "\n";
    return nullptr;
  }
  const QorvSPDeviceProvider* loaded = &plugin->SerialProvider();
  benchmark::RegisterBenchmark("plugin_so/poll_round/wall_clock", PollRound<NullController>, loaded,
                               wire::kCellReplyLength);
  return plugin;
}
#else
std::unique_ptr<qorv::PluginLibrary> RegisterPluginBenchmarks() { return nullptr; }
#endif

}  // namespace
}  // namespace halvex::bench

int main(int argc, char** argv) {
  using namespace halvex::bench;
  // The plug-in logs a line per round and flushes it. Those lines go to
  // /dev/null, still one write(2) each as on the controller; the report goes
  // to the real standard output.
  runner::recording::QuietCout quiet(runner::recording::QuietCout::WriteCost::kKept);
  std::ostream console(quiet.console());

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterLinkedBenchmarks();
  const std::unique_ptr<qorv::PluginLibrary> plugin = RegisterPluginBenchmarks();

  CollectingReporter reporter;
  reporter.SetOutputStream(&console);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  console << "\nhalvex_30 summary, CPU time per operation in this run:\n";
  for (const std::string& line : SummaryLines(reporter.CpuNanoseconds())) console << line << "\n";
  for (const std::string& failure : reporter.Failures()) console << "FAILED " << failure << "\n";
  console.flush();
  return reporter.Failures().empty() ? 0 : 1;
}
