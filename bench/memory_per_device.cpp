// halvex_memory_per_device: what each device costs in memory. Makes many
// devices through the plug-in's provider, as a host does, and counts the
// bytes they take: the object itself and everything it allocates, after
// creation, after configuration and after a poll round, for a typical
// configuration and for one with a 33-key threshold table.
//
//   halvex_memory_per_device [--devices N]      (default 1000)
//
// Every operator new and delete of the process is counted here; glibc's own
// in-use figure (mallinfo2), which includes its per-block overhead, is shown
// beside it.

#include <malloc.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "bench/null_controller.h"
#include "bench/poll_round.h"
#include "celldata/halvex30.h"
#include "host/provider.h"
#include "runner/recording/output_capture.h"

extern "C" std::vector<std::shared_ptr<Provider>> get_providers();

namespace {

// The reply buffer is a protected member of the serial base: a derived
// class may measure it.
struct ReplyBuffer : QorvSPDevice {
  static constexpr std::size_t kBytes = sizeof msg_buf;
};
constexpr std::size_t kReplyBufferBytes = ReplyBuffer::kBytes;

// Live heap bytes and blocks requested through operator new.
struct HeapCount {
  long bytes = 0;
  long blocks = 0;
};
HeapCount live;

// Each block carries its size in front, so delete knows what it returns.
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* CountedAlloc(std::size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) throw std::bad_alloc();
  std::memcpy(block, &size, sizeof size);
  live.bytes += static_cast<long>(size);
  ++live.blocks;
  return static_cast<unsigned char*>(block) + kHeader;
}

void CountedFree(void* p) {
  if (p == nullptr) return;
  void* block = static_cast<unsigned char*>(p) - kHeader;
  std::size_t size;
  std::memcpy(&size, block, sizeof size);
  live.bytes -= static_cast<long>(size);
  --live.blocks;
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return CountedAlloc(size); }
void* operator new[](std::size_t size) { return CountedAlloc(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return CountedAlloc(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

namespace halvex::bench {
namespace {

constexpr long kBudgetBytes = 4096;

struct Snapshot {
  HeapCount counted;
  std::size_t in_use;  // glibc: bytes in allocated blocks, with overhead
};

Snapshot Take() { return {live, mallinfo2().uordblks}; }

void PrintStep(const char* step, const Snapshot& from, const Snapshot& to, long devices) {
  const double bytes = static_cast<double>(to.counted.bytes - from.counted.bytes) / devices;
  const double blocks = static_cast<double>(to.counted.blocks - from.counted.blocks) / devices;
  const double in_use =
      (static_cast<double>(to.in_use) - static_cast<double>(from.in_use)) / devices;
  std::printf("  %-18s %7.1f B/device in %5.1f blocks (malloc in use %7.1f B/device)\n", step,
              bytes, blocks, in_use);
}

struct Result {
  bool sound = true;    // every round ran and destruction gave every byte back
  long per_device = 0;  // heap bytes per device after its round, object included
};

Result Measure(const char* label, const Json::Value& config, const QorvSPDeviceProvider& provider,
               const std::shared_ptr<QorvController>& host, long count) {
  std::printf("configuration \"%s\", %ld devices:\n", label, count);
  MonitorReplies replies(kWireAddress);
  std::vector<DevicePtr> devices;
  devices.reserve(static_cast<std::size_t>(count));  // the host's own list, not the devices'
  const Snapshot start = Take();
  for (long i = 0; i < count; ++i) devices.emplace_back(provider.create());
  const Snapshot created = Take();
  for (long i = 0; i < count; ++i)
    SetUpDevice(*devices[i], host, config, static_cast<unsigned>(kDataId + i));
  const Snapshot configured = Take();
  bool rounds_ok = true;
  for (auto& device : devices) rounds_ok = RunPollRound(*device, replies) && rounds_ok;
  const Snapshot polled = Take();
  devices.clear();
  const Snapshot destroyed = Take();

  PrintStep("created", start, created, count);
  PrintStep("configured", start, configured, count);
  PrintStep("after one round", start, polled, count);
  Result result;
  result.per_device = (polled.counted.bytes - start.counted.bytes) / count;
  const long left = destroyed.counted.bytes - start.counted.bytes;
  std::printf("  after destroy:     %ld B left over all devices\n", left);
  std::printf("  per device after a round: %ld B (budget %ld B): %s\n", result.per_device,
              kBudgetBytes, result.per_device <= kBudgetBytes ? "met" : "NOT MET");
  if (!rounds_ok) std::printf("  FAILED: a device refused a reply\n");
  if (left != 0) std::printf("  FAILED: destroyed devices left heap blocks behind\n");
  result.sound = rounds_ok && left == 0;
  return result;
}

// Where a configured device's heap goes: each map is emptied in turn and
// the bytes it gave back are counted.
class MapProbe : public Halvex30 {
 public:
  void PrintHoldings() {
    Release("signal_ids_ (plug-in, written by InitSetting only)", signal_ids_);
    Release("signal_names_ (plug-in, written by InitSetting only)", signal_names_);
    Release("threshold_levels_ (host's map, keys added by InitSetting)", threshold_levels_);
    Release("threshold_values_ (host's map, keys added by InitSetting)", threshold_values_);
  }

 private:
  template <typename Map>
  static void Release(const char* what, Map& map) {
    const long before = live.bytes;
    const std::size_t entries = map.size();
    map.clear();
    std::printf("    %-58s %2zu entries %6ld B\n", what, entries, before - live.bytes);
  }
};

void PrintTableHoldings(const std::shared_ptr<QorvController>& host) {
  std::printf("  of which, in one device configured with the table:\n");
  MapProbe probe;
  SetUpDevice(probe, host, ThresholdTableConfig());
  probe.PrintHoldings();
}

long DeviceCount(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--devices") return std::max(1L, std::atol(argv[i + 1]));
  return 1000;
}

}  // namespace
}  // namespace halvex::bench

int main(int argc, char** argv) {
  using namespace halvex::bench;
  const long count = DeviceCount(argc, argv);
  // The devices' log lines go nowhere.
  std::optional<runner::recording::QuietCout> quiet;
  quiet.emplace(runner::recording::QuietCout::WriteCost::kKept);

  auto host = std::make_shared<NullController>();
  const auto providers = get_providers();
  const auto provider = std::dynamic_pointer_cast<QorvSPDeviceProvider>(providers.at(0));
  {
    // First use of the log stream and the local-time zone allocate once per
    // process; keep that out of the per-device figures.
    DevicePtr warm_up(provider->create());
    SetUpDevice(*warm_up, host, ThresholdTableConfig());
    MonitorReplies replies(kWireAddress);
    RunPollRound(*warm_up, replies);
  }

  std::printf("sizeof(Halvex30): %zu B (host serial device %zu B, of it the reply buffer %zu B)\n",
              sizeof(Halvex30), sizeof(QorvSPDevice), kReplyBufferBytes);
  const Result typical = Measure("typical", TypicalConfig(), *provider, host, count);
  const Result table =
      Measure("threshold table, 33 keys", ThresholdTableConfig(), *provider, host, count);
  PrintTableHoldings(host);
  quiet.reset();
  // The budget holds for the typical configuration; a threshold table costs
  // what its keys cost and is reported, not judged.
  return typical.sound && table.sound && typical.per_device <= kBudgetBytes ? 0 : 1;
}
