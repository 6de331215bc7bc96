#include "runner/replay/scenario.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "runner/recording/recording_controller.h"
#include "tests/support/test_folder.h"

namespace runner::replay {
namespace {

using V = Action::Verb;

std::vector<Action> Parse(const std::string& text, const std::string& file = "t.scn") {
  std::istringstream in(text);
  return ParseScenario(in, file);
}

Action One(const std::string& line) {
  const auto actions = Parse(line);
  EXPECT_EQ(actions.size(), 1u) << line;
  return actions.empty() ? Action{} : actions[0];
}

std::string ChunksText(const Action& a) {
  std::string out;
  for (const auto& c : a.chunks) out += "[" + runner::recording::Hex(c) + "]";
  return out;
}

TEST(Scenario, LinesBecomeActions) {
  const Action create = One("create 7 3 left");
  EXPECT_EQ(create.verb, V::kCreate);
  EXPECT_EQ(create.id, 7u);
  EXPECT_EQ(create.number, 3);
  EXPECT_EQ(create.device, "left");

  const Action tick = One("  tick 2   # two ticks");
  EXPECT_EQ(tick.verb, V::kTick);
  EXPECT_EQ(tick.number, 2);
  EXPECT_EQ(One("tick").number, 1);

  const Action ioctl = One("ioctl 100 1E00");
  EXPECT_EQ(ioctl.number, 100);
  EXPECT_EQ(runner::recording::Hex(ioctl.bytes), "1E 00");
  EXPECT_EQ(One("ioctl -3").number, -3);

  const Action peer = One("peer 9 group_voltage -12.25");
  EXPECT_EQ(peer.verb, V::kPeerValue);
  EXPECT_EQ(peer.id, 9u);
  EXPECT_EQ(peer.name, "group_voltage");
  EXPECT_EQ(peer.value, -12.25f);

  EXPECT_EQ(One("query battery_05_value").name, "battery_05_value");
  EXPECT_EQ(One("cache 00*152").bytes.size(), 152u);
}

TEST(Scenario, ReceivedBytes) {
  struct Case {
    const char* line;
    const char* chunks;
  };
  const Case cases[] = {
      {"recv ED 81 0532*2", "[ED 81 05 32 05 32]"},
      {"recv 00 13 ed 01", "[00 13 ED 01]"},
      // The monitor's reply to address 01 carrying 500.
      {"reply 01 500", "[ED 01 01 F4 F6]"},
      {"reply 01 500 bad-checksum", "[ED 01 01 F4 F7]"},
      {"reply 01 500 split 3", "[ED 01 01][F4 F6]"},
      {"reply 01 500 split 1 1 3", "[ED][01][01 F4 F6]"},
      {"reply 01 500 split 5", "[ED 01 01 F4 F6]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ChunksText(One(c.line)), c.chunks);
  }
  EXPECT_EQ(One("reply 81 1330*30 0 0").chunks.at(0).size(), 67u);
}

TEST(Scenario, ConfigureKeepsTheWholeJsonLine) {
  const Action a = One(R"(configure {"appSetting": {"name": "#1 # x", "version": 2}})");
  EXPECT_EQ(a.verb, V::kConfigure);
  EXPECT_EQ(a.config["appSetting"]["name"].asString(), "#1 # x");
  EXPECT_EQ(a.config["appSetting"]["version"].asInt(), 2);
}

TEST(Scenario, ConfigureFileIsReadBesideTheScenario) {
  halvex::testing::TestFolder folder;
  const std::filesystem::path dir = folder.path();
  std::ofstream(dir / "site.json") << R"({"appSetting": {"dir": 1}})";
  const auto actions = Parse("configure-file site.json\n", (dir / "x.scn").string());
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0].config["appSetting"]["dir"].asInt(), 1);
}

TEST(Scenario, ClockMoves) {
  EXPECT_EQ(One("clock +61").clock_step, boost::posix_time::seconds(61));
  EXPECT_EQ(One("clock -5").clock_step, boost::posix_time::seconds(-5));
  const Action at = One("clock 2026-12-31 23:59:59");
  EXPECT_EQ(at.clock_at, boost::posix_time::ptime(boost::gregorian::date(2026, 12, 31),
                                                  boost::posix_time::time_duration(23, 59, 59)));
  EXPECT_TRUE(One("clock +1").clock_at.is_not_a_date_time());
}

TEST(Scenario, ErrorsNameFileLineAndProblem) {
  struct Case {
    const char* name;
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"unknown verb", "fly 1", "t.scn:1: unknown action 'fly'"},
      {"line count includes comments", "# c\n\n  # d\ntick 0", "t.scn:4: tick count 0"},
      {"create without address", "create 1", "t.scn:1: usage: create <data_id> <address>"},
      {"address above a byte", "create 1 256", "t.scn:1: address '256' exceeds 255"},
      {"negative data id", "create -1 1", "t.scn:1: data id '-1' is not a decimal number"},
      {"name starting with a digit", "create 1 1 9a", "t.scn:1: device name '9a' must be"},
      {"json cut short", "configure {\"a\":}", "t.scn:1: bad JSON: "},
      {"json with trailing text", "configure {} x", "t.scn:1: bad JSON: "},
      {"configure without json", "configure", "t.scn:1: usage: configure"},
      {"missing configure file", "configure-file nope.json",
       "t.scn:1: nope.json: cannot be read: No such file"},
      {"half a hex byte", "recv ED8", "t.scn:1: 'ED8' is not whole hex bytes"},
      {"not hex", "recv ZZ", "t.scn:1: 'ZZ' is not hex"},
      {"repeat 0", "recv 00*0", "t.scn:1: repeat count 0 in '00*0'"},
      {"huge repeat", "recv 00*999999", "t.scn:1: more than 65536 bytes on one line"},
      {"reading above 16 bits", "reply 81 65536", "t.scn:1: reading '65536' exceeds 65535"},
      {"reply address two bytes", "reply 0181 5", "t.scn:1: reply address '0181' is not one"},
      {"chunks beyond the frame", "reply 01 500 split 4 2",
       "t.scn:1: chunks add up to more than the 5-byte frame"},
      {"split without sizes", "reply 01 500 split", "t.scn:1: split needs chunk sizes"},
      {"bad-checksum not last", "reply 01 500 bad-checksum split 2",
       "t.scn:1: bad-checksum must come last"},
      {"query without name", "query", "t.scn:1: usage: query <value name>"},
      {"clock without sign", "clock 61", "t.scn:1: usage: clock"},
      {"clock on no date", "clock 2026-02-30 00:00:00", "t.scn:1: '2026-02-30' is not a date"},
      {"clock hour 24", "clock 2026-02-01 24:00:00", "t.scn:1: '2026-02-01 24:00:00' is not a"},
      {"peer value not a number", "peer 7 v abc", "t.scn:1: peer value 'abc' is not a number"},
      {"peer-throws with a value", "peer-throws 7 v 1", "t.scn:1: usage: peer-throws"},
      {"cache without bytes", "cache", "t.scn:1: usage: cache"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      Parse(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const ScenarioError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << e.what();
    }
  }
}

// What cannot be read as a scenario at all is refused by its path before
// anything is read: a FIFO would hang, /dev/zero would never end.
TEST(Scenario, FilesThatAreNoScenarioAreRefusedByPathAndReason) {
  halvex::testing::TestFolder folder;
  ASSERT_EQ(::mkfifo((folder / "fifo.scn").c_str(), 0600), 0);
  std::ofstream(folder / "long.scn") << "tick " << std::string(kMaxScenarioLineBytes, '1') << "\n";
  const struct {
    std::string path;
    const char* problem;
  } cases[] = {
      {"/nonexistent/x.scn", "cannot be read: No such file or directory"},
      {"/dev/zero", "is not a regular file"},
      {folder / "fifo.scn", "is not a regular file"},
      {folder.path(), "is a folder, not a file"},
      {folder / "long.scn", "line 1 is longer than 64 KiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      LoadScenario(c.path);
      ADD_FAILURE() << "read";
    } catch (const ScenarioFileError& e) {
      EXPECT_EQ(std::string(e.what()), c.path + ": " + c.problem);
    }
  }
}

// A line holding bytes that are not text is named with the first bad byte,
// escaped: nothing raw reaches the terminal.
TEST(Scenario, BinaryBytesAreNamedEscapedWithTheirLine) {
  std::istringstream in(std::string("tick\n\x01\xff\x1b[2Jtick\n", 16));
  try {
    ParseScenario(in, "bin.scn");
    ADD_FAILURE() << "parsed";
  } catch (const ScenarioError& e) {
    EXPECT_EQ(std::string(e.what()),
              "bin.scn:2: not text: a byte \\x01 at column 1: \\x01\\xFF\\x1B[2Jtick");
  }
}

// Power lost while a capture was written leaves its last line cut short:
// every complete line is read, the torn one is left out and named.
TEST(Scenario, ATornLastLineIsLeftOutAndNamedOnlyWhenAskedAndOnlyAtTheEnd) {
  const std::string torn_end = "create 1 1\ntick\nrecv ED 81 0";
  {
    std::istringstream in(torn_end);
    std::string torn;
    EXPECT_EQ(ParseScenario(in, "cap.scn", &torn).size(), 2u);
    EXPECT_EQ(torn.rfind("cap.scn:3: the last line is cut short", 0), 0u) << torn;
  }
  {
    std::istringstream in(torn_end);
    EXPECT_THROW(ParseScenario(in, "cap.scn"), ScenarioError) << "a plain read refuses it";
  }
  {
    std::istringstream in("create 1 1\nrecv ED 81 0\ntick\n");
    std::string torn;
    EXPECT_THROW(ParseScenario(in, "cap.scn", &torn), ScenarioError) << "a bad line inside";
  }
  {
    std::istringstream in("create 1 1\ntick");
    std::string torn;
    EXPECT_EQ(ParseScenario(in, "cap.scn", &torn).size(), 2u);
    EXPECT_EQ(torn, "") << "a complete last line without a newline is no tear";
  }
}

}  // namespace
}  // namespace runner::replay
