// Each fault does what it says to a reply, and a seeded run repeats.

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

#include "sim/bus.h"
#include "sim/fault_injector.h"

namespace sim {
namespace {

const Bytes kFrame = EncodeScalarReply(0x81, 0x1234);
const Bytes kCellFrame = EncodeCellReply(0x81, {1330, 1331, 1332});

int Differences(const Bytes& a, const Bytes& b) {
  int count = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) count += a[i] != b[i];
  return count;
}

bool StartsWith(const Bytes& bytes, const Bytes& prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

bool EndsWith(const Bytes& bytes, const Bytes& suffix) {
  return bytes.size() >= suffix.size() &&
         std::equal(suffix.rbegin(), suffix.rend(), bytes.rbegin());
}

TEST(Faults, EachDoesWhatItSays) {
  struct Case {
    Fault fault;
    std::function<void(const Delivery&, const Bytes& clean)> check;
  };
  const Case cases[] = {
      {Fault::kDrop, [](const Delivery& d, const Bytes&) { EXPECT_TRUE(d.chunks.empty()); }},
      {Fault::kSilence, [](const Delivery& d, const Bytes&) { EXPECT_TRUE(d.chunks.empty()); }},
      {Fault::kCorrupt,
       [](const Delivery& d, const Bytes& clean) {
         const Bytes sent = Join(d.chunks);
         ASSERT_EQ(sent.size(), clean.size());
         EXPECT_EQ(Differences(sent, clean), 1);
       }},
      {Fault::kWrongAddress,
       [](const Delivery& d, const Bytes& clean) {
         const Bytes sent = Join(d.chunks);
         ASSERT_EQ(sent.size(), clean.size());
         EXPECT_NE(sent[1], clean[1]);
         EXPECT_EQ(Checksum(sent.data() + 1, sent.size() - 2), sent.back())
             << "checksum must still hold";
         EXPECT_TRUE(std::equal(clean.begin() + 2, clean.end() - 1, sent.begin() + 2));
       }},
      {Fault::kNoise,
       [](const Delivery& d, const Bytes& clean) {
         const Bytes sent = Join(d.chunks);
         ASSERT_TRUE(EndsWith(sent, clean));
         const size_t noise = sent.size() - clean.size();
         EXPECT_GE(noise, 1u);
         EXPECT_LE(noise, 3u);
         EXPECT_EQ(std::count(sent.begin(), sent.begin() + noise, kReplyStart), 0);
       }},
      {Fault::kTrailing,
       [](const Delivery& d, const Bytes& clean) {
         const Bytes sent = Join(d.chunks);
         ASSERT_TRUE(StartsWith(sent, clean));
         EXPECT_GE(sent.size() - clean.size(), 1u);
         EXPECT_LE(sent.size() - clean.size(), 2u);
       }},
      {Fault::kSplit,
       [](const Delivery& d, const Bytes& clean) {
         EXPECT_EQ(Join(d.chunks), clean);
         EXPECT_GE(d.chunks.size(), 2u);
         EXPECT_LE(d.chunks.size(), 3u);
         EXPECT_EQ(d.chunks.front().delay_before, Micros{0});
         for (const Chunk& chunk : d.chunks) {
           EXPECT_FALSE(chunk.bytes.empty());
           EXPECT_LE(chunk.delay_before, Micros{5000});
         }
       }},
      {Fault::kDelay,
       [](const Delivery& d, const Bytes& clean) {
         ASSERT_EQ(d.chunks.size(), 1u);
         EXPECT_EQ(d.chunks[0].bytes, clean);
         EXPECT_EQ(d.chunks[0].delay_before, Micros{250'000});
       }},
  };
  for (const Case& c : cases) {
    for (const Bytes& clean : {kFrame, kCellFrame}) {
      SCOPED_TRACE(std::string(FaultName(c.fault)) + " on a " + std::to_string(clean.size()) +
                   "-byte reply");
      FaultPlan plan;
      plan[c.fault].count = 1;
      plan.noise_max_bytes = 3;
      plan.trailing_max_bytes = 2;
      plan.split_max_chunks = 3;
      plan.split_gap_ms = 5;
      plan.delay_ms = 250;
      for (uint64_t seed : {1u, 2u, 3u, 4u, 5u}) {
        FaultInjector injector(plan, seed);
        const Delivery faulty = injector.Deliver(clean, Micros{0});
        EXPECT_EQ(faulty.faults, std::vector<Fault>{c.fault});
        c.check(faulty, clean);
        // The count is spent: a later reply, after any silence, goes out clean.
        const Delivery next = injector.Deliver(clean, Micros{10'000'000});
        EXPECT_TRUE(next.faults.empty());
        EXPECT_EQ(Join(next.chunks), clean);
      }
    }
  }
}

TEST(Faults, RateFiresAboutThatOften) {
  FaultPlan plan;
  plan[Fault::kDrop].rate = 0.25;
  FaultInjector injector(plan, 9);
  int dropped = 0;
  for (int i = 0; i < 800; ++i) dropped += injector.Deliver(kFrame, Micros{0}).chunks.empty();
  EXPECT_GT(dropped, 150);
  EXPECT_LT(dropped, 250);
}

// Four requests a round, 100 ms apart, against a bus with every fault on.
std::vector<Exchange> FaultyRun(uint64_t seed) {
  auto clock = std::make_shared<ManualClock>();
  Bus bus(BusOptions{seed, false}, clock);
  FaultPlan plan;
  for (FaultRule& rule : plan.rules) rule.rate = 0.2;
  plan.silence_s = 0.5;
  bus.AddMonitor(MonitorProfile{}, plan);
  std::vector<Exchange> run;
  for (int i = 0; i < 200; ++i) {
    const auto command = static_cast<Command>(0xA1 + i % 4);
    for (Exchange& e : bus.Hear(EncodeRequest(0x81, command))) run.push_back(std::move(e));
    clock->Advance(Micros{100'000});
  }
  return run;
}

// What a receiver would see of a run: every byte and every delay.
std::vector<std::pair<Bytes, long>> Trace(const std::vector<Exchange>& run) {
  std::vector<std::pair<Bytes, long>> trace;
  for (const Exchange& e : run) {
    for (const Chunk& c : e.reply)
      trace.emplace_back(c.bytes, static_cast<long>(c.delay_before.count()));
    trace.emplace_back(Bytes{}, static_cast<long>(e.faults.size()));
  }
  return trace;
}

TEST(Faults, SameSeedSameBytes) {
  const auto first = Trace(FaultyRun(77));
  EXPECT_EQ(first, Trace(FaultyRun(77)));
  EXPECT_NE(first, Trace(FaultyRun(78)));
}

}  // namespace
}  // namespace sim
