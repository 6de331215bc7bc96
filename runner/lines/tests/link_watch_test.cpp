#include "runner/lines/link_watch.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace runner {
namespace {

// A device's side of the link as steps: "send A1", "reply 1" (process
// returning 1), "reply 0", "round" (a publication inside the next reply),
// "reply-round" (process that publishes and returns 0).
LinkCounters Play(const std::vector<std::string>& steps) {
  LinkWatch watch;
  const auto now = std::chrono::steady_clock::now();
  for (const std::string& step : steps) {
    if (step.rfind("send ", 0) == 0) {
      const unsigned char frame[5] = {
          0xFE, 0xFE, 0x81, static_cast<unsigned char>(std::stoi(step.substr(5), nullptr, 16)), 0};
      watch.FrameSent(frame, 5);
    } else if (step == "reply 1" || step == "reply 0") {
      watch.BeforeProcess();
      watch.AfterProcess(step == "reply 1" ? 1 : 0);
    } else if (step == "reply-round") {
      watch.BeforeProcess();
      watch.RoundPublished(now);
      watch.AfterProcess(0);
    }
  }
  return watch.counters();
}

TEST(LinkWatchTest, CountsFromTheHostSide) {
  struct Case {
    const char* name;
    std::vector<std::string> steps;
    std::uint64_t rounds, resends, rejected;
  };
  const Case cases[] = {
      {"a clean round",
       {"send A1", "reply 1", "send A2", "reply 1", "send A3", "reply 1", "send A4", "reply-round"},
       1,
       0,
       0},
      {"the same frame with no reply between is a re-send",
       {"send A1", "send A1", "send A1"},
       0,
       2,
       0},
      {"the same frame after a reply is a new exchange",
       {"send A1", "reply 0", "send A1"},
       0,
       0,
       1},
      {"a new cycle after a completed one is no re-send",
       {"send A4", "reply-round", "send A1", "reply 1", "send A2", "reply-round", "send A1"},
       2,
       0,
       0},
      {"a reply that ends the exchange without a round is rejected",
       {"send A1", "reply 1", "send A2", "reply 0"},
       0,
       0,
       1},
      {"a partial reply keeps the device waiting", {"send A1", "reply 1", "reply 1"}, 0, 0, 0},
      {"stray bytes with nothing awaited are not a rejection", {"reply 0", "reply 0"}, 0, 0, 0},
      {"one rejection per failed exchange", {"send A2", "reply 0", "reply 0"}, 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LinkCounters counters = Play(c.steps);
    EXPECT_EQ(counters.rounds, c.rounds);
    EXPECT_EQ(counters.resends, c.resends);
    EXPECT_EQ(counters.rejected, c.rejected);
  }
}

TEST(LinkWatchTest, RoundTimeRunsFromCycleStartToPublication) {
  LinkWatch watch;
  const auto t0 = std::chrono::steady_clock::now();
  watch.CycleStarted(t0);
  watch.RoundPublished(t0 + std::chrono::microseconds(53100));
  watch.CycleStarted(t0 + std::chrono::seconds(1));
  watch.RoundPublished(t0 + std::chrono::seconds(1) + std::chrono::microseconds(60000));
  watch.RoundPublished(t0 + std::chrono::seconds(9));  // no cycle start seen: not timed
  const LinkCounters& c = watch.counters();
  EXPECT_EQ(c.rounds, 3u);
  EXPECT_EQ(c.timed_rounds, 2u);
  EXPECT_EQ(c.best_round.count(), 53100);
  EXPECT_EQ(c.worst_round.count(), 60000);
  EXPECT_EQ(c.MeanRound().count(), 56550);
}

}  // namespace
}  // namespace runner
