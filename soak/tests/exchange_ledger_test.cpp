// The soak's bookkeeping: which fault a reply that was not taken is blamed
// on, and how corrupted replies that still pass their checksum are counted
// and expected.
#include "soak/exchange_ledger.h"

#include <vector>

#include <gtest/gtest.h>

#include "sim/monitor.h"
#include "soak/soak_plan.h"

namespace soak {
namespace {

using sim::Fault;

// A scalar reply ED 81 hh ll ss whose covered sum (81 + hh + ll) is `sum`.
sim::Bytes ScalarWithSum(unsigned sum) {
  const unsigned payload = (sum + 256 - 0x81) % 256;
  return {0xED, 0x81, 0x00, static_cast<std::uint8_t>(payload),
          static_cast<std::uint8_t>(sum % 254)};
}

sim::Exchange Answered(std::uint8_t address, sim::Bytes reply, std::vector<Fault> faults = {}) {
  sim::Exchange e;
  e.request = {0xFE, 0xFE, address, 0xA2, 0x00};
  e.outcome = faults.size() == 1 && faults[0] == Fault::kDrop ? sim::Exchange::Outcome::kDropped
                                                              : sim::Exchange::Outcome::kAnswered;
  if (e.outcome == sim::Exchange::Outcome::kAnswered) e.reply = {sim::Chunk{std::move(reply)}};
  e.faults = std::move(faults);
  return e;
}

TEST(ExchangeLedger, BlamesTheLastReplyOfThatMonitor) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::uint8_t, std::vector<Fault>>> replies;
    const char* blamed;
  };
  const std::vector<Case> cases = {
      {"its own fault", {{0x81, {Fault::kCorrupt}}}, "corrupt"},
      {"faults in the order applied", {{0x81, {Fault::kNoise, Fault::kSplit}}}, "noise+split"},
      {"a later reply of another monitor does not count",
       {{0x81, {Fault::kWrongAddress}}, {0x82, {}}},
       "wrong_address"},
      {"clean behind a late reply",
       {{0x82, {Fault::kDelay}}, {0x81, {}}},
       "late bytes of an earlier reply"},
      {"split behind a late reply",
       {{0x81, {Fault::kDelay}}, {0x81, {Fault::kSplit}}},
       "late bytes of an earlier reply"},
      {"own spoiling fault first",
       {{0x82, {Fault::kDelay}}, {0x81, {Fault::kNoise, Fault::kCorrupt}}},
       "noise+corrupt"},
      {"trailing bytes are harmless", {{0x81, {Fault::kTrailing}}, {0x81, {}}}, "clean"},
      {"harmless faults alone", {{0x82, {}}, {0x81, {Fault::kSplit}}}, "split"},
      {"clean", {{0x82, {}}, {0x81, {}}}, "clean"},
      {"nothing from that monitor", {{0x82, {Fault::kDrop}}}, "no reply recorded"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExchangeLedger ledger([](std::size_t, std::uint8_t, std::uint8_t) { return sim::Bytes{}; });
    for (const auto& [address, faults] : c.replies)
      ledger.Record(0, Answered(address, ScalarWithSum(7), faults));
    EXPECT_EQ(ledger.Blame(0, 0x81), c.blamed);
    EXPECT_EQ(ledger.Blame(1, 0x81), "no reply recorded");
  }
}

TEST(ExchangeLedger, RequestsInsideASilenceAreBlamedOnIt) {
  ExchangeLedger ledger([](std::size_t, std::uint8_t, std::uint8_t) { return sim::Bytes{}; });
  sim::Exchange silent;
  silent.request = {0xFE, 0xFE, 0x81, 0xA1, 0x22};
  silent.outcome = sim::Exchange::Outcome::kSilent;
  ledger.Record(0, silent);
  EXPECT_EQ(ledger.Blame(0, 0x81), "silence");
  EXPECT_TRUE(ledger.InjectedFaults().empty()) << "injected once, when the silence began";
}

TEST(ExchangeLedger, AReplyTheHostGaveUpOnLeavesLateBytes) {
  ExchangeLedger ledger([](std::size_t, std::uint8_t, std::uint8_t) { return sim::Bytes{}; });
  ledger.Record(0, Answered(0x82, ScalarWithSum(7)));
  ledger.Record(0, Answered(0x81, ScalarWithSum(7)));
  EXPECT_EQ(ledger.Blame(0, 0x81), "clean");
  ledger.MarkTimedOut(0, 0x82);
  EXPECT_EQ(ledger.Blame(0, 0x81), "late bytes of an earlier reply");
}

TEST(ExchangeLedger, CountsCorruptedReadingsThatPassTheirChecksum) {
  struct Case {
    const char* name;
    unsigned clean_sum;
    std::size_t position;  // of the byte changed
    std::uint8_t new_value;
    std::uint64_t payload, passing;
    double exact;
  };
  // Sum 254 has remainder 0, like sum 0: raising a reading byte by 2 passes.
  const std::vector<Case> cases = {
      {"collision at 254 -> 0", 254, 3, 0, 1, 1, 1.0 / 255},
      {"other change at 254", 254, 3, 0x55, 1, 0, 1.0 / 255},
      {"sum without a twin", 100, 3, 0x30, 1, 0, 0.0},
      {"checksum byte changed", 254, 4, 0x01, 0, 0, 0.0},
      {"address changed", 254, 1, 0x83, 0, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const sim::Bytes clean = ScalarWithSum(c.clean_sum);
    ExchangeLedger ledger([&](std::size_t, std::uint8_t, std::uint8_t) { return clean; });
    sim::Bytes corrupted = clean;
    if (c.position == 3 && c.new_value == 0)
      corrupted[3] = static_cast<std::uint8_t>(clean[3] + 2);
    else
      corrupted[c.position] = c.new_value;
    sim::Bytes stream = {0x13, 0x37};  // noise in front
    stream.insert(stream.end(), corrupted.begin(), corrupted.end());
    ledger.Record(0, Answered(0x81, stream, {Fault::kNoise, Fault::kCorrupt}));
    const CollisionCount n = ledger.Collisions();
    EXPECT_EQ(n.corrupted, 1u);
    EXPECT_EQ(n.corrupted_payload, c.payload);
    EXPECT_EQ(n.passing, c.passing);
    EXPECT_DOUBLE_EQ(n.expected_exact, c.exact);
    EXPECT_DOUBLE_EQ(n.expected_uniform, static_cast<double>(c.payload) * kUniformCollisionRate);
  }
}

TEST(ExchangeLedger, UniformCollisionRateMatchesAllSumsAndChanges) {
  int collisions = 0;
  for (unsigned sum = 0; sum < 256; ++sum)
    for (unsigned change = 1; change < 256; ++change)
      collisions += sum % 254 == (sum + change) % 256 % 254;
  EXPECT_DOUBLE_EQ(kUniformCollisionRate, collisions / (256.0 * 255.0));
}

TEST(SoakPlan, MonitorsHoldStillAndEveryReplyCanCollide) {
  const SoakPlan plan;
  std::vector<sim::Bytes> cell_replies;
  for (int index = 0; index < plan.buses * plan.monitors_per_bus; ++index) {
    SCOPED_TRACE(index);
    const sim::Monitor monitor(SteadyProfile(index, plan.monitors_per_bus), 9);
    for (auto command : {sim::Command::kCellVoltages, sim::Command::kGroupVoltage,
                         sim::Command::kCurrent, sim::Command::kTemperature}) {
      const sim::Bytes reply = monitor.Answer(command, sim::Micros{0});
      EXPECT_EQ(reply, monitor.Answer(command, sim::FromSeconds(3600)));
      unsigned sum = 0;
      for (std::size_t i = 1; i + 1 < reply.size(); ++i) sum += reply[i];
      EXPECT_TRUE(SharesRemainder(sum % 256)) << sum % 256;
    }
    cell_replies.push_back(monitor.Answer(sim::Command::kCellVoltages, sim::Micros{0}));
  }
  EXPECT_EQ(CleanReply(plan, 1, 0x82, 0xA1), cell_replies[3]);
  for (std::size_t i = 1; i < cell_replies.size(); ++i)
    EXPECT_NE(cell_replies[i], cell_replies[0]) << "every string has values of its own";
}

}  // namespace
}  // namespace soak
