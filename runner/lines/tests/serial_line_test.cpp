#include "runner/lines/serial_line.h"

#include <deque>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

namespace runner {
namespace {

using std::chrono::milliseconds;
using TimePoint = SerialLine::TimePoint;

const char kPath[] = "/dev/ttyX";
const char kBusy[] = "/dev/ttyX is in use by pid 7 (minicom)";
const char kMissing[] = "/dev/ttyX: cannot open: No such file or directory";
const char kEio[] = "/dev/ttyX: write failed: Input/output error";

// What the fake ports of one line meet, set by the test.
struct Wire {
  std::deque<std::string> opens;  // each opening's outcome: "" opens, else why not; then all open
  std::string write_error;        // the next write fails so
  std::string read_error;         // the next read finds the line gone so
  int writes = 0;                 // frames that reached a port
};

class FakePort : public LinePort {
 public:
  FakePort(Wire& wire, std::string refused)
      : wire_(wire), open_(refused.empty()), error_(std::move(refused)) {}
  bool is_open() const override { return open_; }
  int fd() const override { return -1; }
  const std::string& error() const override { return error_; }
  bool Write(const unsigned char*, std::size_t) override {
    ++wire_.writes;
    error_ = std::exchange(wire_.write_error, "");
    return error_.empty();
  }
  ReadStatus Read(std::vector<unsigned char>& out) override {
    out.clear();
    error_ = std::exchange(wire_.read_error, "");
    return error_.empty() ? ReadStatus::kNothing : ReadStatus::kGone;
  }
  void DiscardInput() override {}

 private:
  Wire& wire_;
  bool open_;
  std::string error_;
};

// A line with devices A and B, played through `steps` against a held
// clock. Each step leaves a trace: the write's count, and the line's state
// ("up", "up, held by 1 until +150ms", "lost", "down +100ms": its next
// attempt from now).
struct Life {
  std::vector<std::string> trace;
  std::vector<std::string> events;
  int port_writes = 0;
};

Life Play(std::deque<std::string> opens, const std::vector<std::string>& steps) {
  Life life;
  TimePoint now{std::chrono::hours(1)};
  ManualHostClock host_clock(boost::posix_time::time_from_string("2026-03-01 10:00:00"));
  EventLog events(host_clock,
                  [&](const std::string& line) { life.events.push_back(line.substr(20)); });
  Wire wire{std::move(opens), "", "", 0};
  DeviceSlot a, b;
  a.settings.name = "A";
  b.settings.name = "B";
  SerialLine line(
      "p", kPath, {&a, &b}, {milliseconds(150), milliseconds(100), milliseconds(1000)}, events,
      [&](const std::string& path, int baud) {
        EXPECT_EQ(path, kPath);
        EXPECT_EQ(baud, 19200);
        std::string outcome;
        if (!wire.opens.empty()) outcome = wire.opens.front(), wire.opens.pop_front();
        return std::make_unique<FakePort>(wire, outcome);
      },
      [&] { return now; });

  const unsigned char frame[4] = {0xFE, 0xFE, 0x81, 0xA1};
  const auto ms = [&](TimePoint t) {
    return std::to_string(std::chrono::duration_cast<milliseconds>(t - now).count()) + "ms";
  };
  for (const std::string& step : steps) {
    std::string outcome;
    if (step == "open") {
      line.Open(19200);
    } else if (step == "retry") {
      EXPECT_FALSE(line.RetryDue(line.retry_at() - milliseconds(1))) << "retried early";
      now = line.retry_at();
      EXPECT_TRUE(line.RetryDue(now));
      line.TryOpen();
    } else if (step == "write" || step == "write-error") {
      if (step == "write-error") wire.write_error = kEio;
      outcome = std::to_string(line.Write(1, frame, sizeof frame)) + ", ";
    } else if (step == "read-gone" || step == "hang-up") {
      if (step == "read-gone") wire.read_error = "/dev/ttyX: Input/output error";
      std::vector<unsigned char> bytes;
      line.Read(bytes, step == "hang-up");
    } else if (step == "check") {
      line.CheckLost();
    }
    if (!line.up()) {
      outcome += "down +" + ms(line.retry_at());
      EXPECT_FALSE(line.down_why().empty());
      EXPECT_EQ(line.turns().holder(), std::nullopt) << "a line down holds no turn";
    } else {
      EXPECT_TRUE(line.down_why().empty());
      outcome += line.usable() ? "up" : "lost";
      if (const auto seat = line.turns().holder())
        outcome += ", held by " + std::to_string(*seat) + " until +" + ms(*line.turns().deadline());
    }
    life.trace.push_back(step + " -> " + outcome);
  }
  life.port_writes = wire.writes;
  return life;
}

std::string Offline(const std::string& why) {
  return "port p: " + why + "; offline: A, B; retrying";
}
const std::string kBack = "port p: /dev/ttyX is back; online again: A, B";

TEST(SerialLineTest, ALineIsLostRetriedWithBackOffAndToldOfOnceEachWay) {
  struct Case {
    const char* name;
    std::deque<std::string> opens;
    std::vector<std::string> steps;
    std::vector<std::string> trace;
    std::vector<std::string> events;
    int port_writes;
  };
  const Case cases[] = {
      {"a failed write refuses every frame after it until the line is taken down",
       {},
       {"open", "write", "check", "write-error", "write", "check", "write", "retry"},
       {"open -> up", "write -> 4, up, held by 1 until +150ms",
        "check -> up, held by 1 until +150ms", "write-error -> -1, lost, held by 1 until +150ms",
        "write -> -1, lost, held by 1 until +150ms", "check -> down +100ms",
        "write -> -1, down +100ms", "retry -> up"},
       {Offline(kEio), kBack},
       2},
      {"a line another program holds is retried, each wait twice the last, and taken when free",
       {kBusy, kBusy, kBusy, ""},
       {"open", "retry", "retry", "retry"},
       {"open -> down +100ms", "retry -> down +200ms", "retry -> down +400ms", "retry -> up"},
       {Offline(kBusy), kBack},
       0},
      {"the wait stops growing at the longest, is never given up, and starts afresh once back",
       {kMissing, kMissing, kMissing, kMissing, kMissing, kMissing, ""},
       {"open", "retry", "retry", "retry", "retry", "retry", "retry", "write-error", "check"},
       {"open -> down +100ms", "retry -> down +200ms", "retry -> down +400ms",
        "retry -> down +800ms", "retry -> down +1000ms", "retry -> down +1000ms", "retry -> up",
        "write-error -> -1, lost", "check -> down +100ms"},
       {Offline(kMissing), kBack, Offline(kEio)},
       1},
      {"a hang-up with nothing to read, and a read that finds the line gone",
       {},
       {"open", "hang-up", "check", "retry", "read-gone", "check"},
       {"open -> up", "hang-up -> lost", "check -> down +100ms", "retry -> up", "read-gone -> lost",
        "check -> down +100ms"},
       {Offline("/dev/ttyX: line hung up"), kBack, Offline("/dev/ttyX: Input/output error")},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Life life = Play(c.opens, c.steps);
    EXPECT_EQ(life.trace, c.trace);
    EXPECT_EQ(life.events, c.events);
    EXPECT_EQ(life.port_writes, c.port_writes);
  }
}

}  // namespace
}  // namespace runner
