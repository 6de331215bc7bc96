#include "runner/replay/replayer.h"

#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "runner/replay/tests/fake_device.h"

namespace runner::replay {
namespace {

std::unique_ptr<QorvSPDevice> MakeFake() { return std::make_unique<testing::FakeDevice>(); }

std::string Replay(const std::string& scenario, bool hex = false,
                   DeviceFactory make_device = MakeFake) {
  std::istringstream in(scenario);
  const auto actions = ParseScenario(in, "t.scn");
  std::ostringstream out;
  Replayer replayer(std::move(make_device), out, hex);
  replayer.Run(actions, "t.scn");
  return out.str();
}

// The record the fake publishes: first cell = first byte received.
std::string FakeRecord(unsigned id, int first_cell) {
  std::string text = "id=" + std::to_string(id) + " t=- cells=[" + std::to_string(first_cell);
  for (int k = 1; k < 32; ++k) text += " 0";
  return text + "] gv=0 gc=0 status=0 temp=0";
}

TEST(Replayer, StdoutLinesSitBetweenTheHostCallsTheyCameWith) {
  EXPECT_EQ(Replay("create 1 1\ntick\n"),
            "create id=1 address=1 -> 1 type=fake addr=01 baud=19200\n"
            "tick -> 1\n"
            "  stdout: before send\n"
            "  > SendData FE FE 01 A1\n"
            "  stdout: after send\n"
            "destroy at end\n"
            "  stdout: fake 1 gone\n");
}

TEST(Replayer, RecordsAreDecodedAndUnfinishedLinesKept) {
  EXPECT_EQ(Replay("create 1 1\nrecv 0D\n"),
            "create id=1 address=1 -> 1 type=fake addr=01 baud=19200\n"
            "< process 1 bytes -> 1\n"
            "  SendSP 5013 152 bytes false " +
                FakeRecord(1, 13) +
                "\n"
                "  SaveDeviceHistory 152 bytes " +
                FakeRecord(1, 13) +
                "\n"
                "  stdout (no line end): partial\n"
                "destroy at end\n"
                "  stdout: fake 1 gone\n");
}

TEST(Replayer, HexShowsChunksAndRecordBytes) {
  const std::string out = Replay("create 1 1\nrecv 0D 00\n", /*hex=*/true);
  EXPECT_NE(out.find("< process 2 bytes: 0D 00 -> 2\n"), std::string::npos) << out;
  // data id 1, then cell 0 = 13.0f = 00 00 50 41, little-endian
  EXPECT_NE(out.find("    hex 01 00 00 00 00 00 50 41 00"), std::string::npos) << out;
}

TEST(Replayer, DeviceExceptionsAreResultsNotErrors) {
  EXPECT_EQ(Replay("create 1 1\nrecv EE\nquery x\nquery v\n"),
            "create id=1 address=1 -> 1 type=fake addr=01 baud=19200\n"
            "< process 1 bytes -> exception bad byte\n"
            "query x -> out_of_range 不支持变量\n"
            "query v -> 1.5\n"
            "destroy at end\n"
            "  stdout: fake 1 gone\n");
}

TEST(Replayer, PeersAreTheScenarioDevicesWhileTheyExist) {
  EXPECT_EQ(Replay("create 1 1 a\n"
                   "configure {\"peer\": 2}\n"
                   "create 2 3 b\n"
                   "use a\n"
                   "recv 01\n"
                   "destroy b\n"
                   "use a\n"
                   "recv 01\n"
                   "query v\n"),
            "[a] create id=1 address=1 -> 1 type=fake addr=01 baud=19200\n"
            "[a] configure -> 1 addr=81\n"
            "[b] create id=2 address=3 -> 1 type=fake addr=03 baud=19200\n"
            "[a] < process 1 bytes -> 1\n"
            "  Get_SP_Value 2 v -> 1.5\n"
            "  SendSP 5013 152 bytes false " +
                FakeRecord(1, 1) +
                "\n"
                "  SaveDeviceHistory 152 bytes " +
                FakeRecord(1, 1) +
                "\n"
                "  stdout (no line end): partial\n"
                "[b] destroy\n"
                "  stdout: fake 2 gone\n"
                "[a] < process 1 bytes -> 1\n"
                "  Get_SP_Value 2 v -> throws\n"
                "  stdout: peer missing\n"
                "  SendSP 5013 152 bytes false " +
                FakeRecord(1, 1) +
                "\n"
                "  SaveDeviceHistory 152 bytes " +
                FakeRecord(1, 1) +
                "\n"
                "  stdout (no line end): partial\n"
                "[a] query v -> 3\n"
                "[a] destroy at end\n"
                "  stdout: fake 1 gone\n");
}

TEST(Replayer, ScriptLinesClockIoControlAndCache) {
  EXPECT_EQ(Replay("create 1 1\n"
                   "peer 7 v 2.5\n"
                   "peer-throws 8 v\n"
                   "clock +61\n"
                   "clock -1\n"
                   "clock 2027-01-01 00:00:00\n"
                   "ioctl 100 1E 00\n"
                   "cache 00*151\n"
                   "recv 0D\n"
                   "cache-from-last-record\n"
                   "query v\n"),
            "create id=1 address=1 -> 1 type=fake addr=01 baud=19200\n"
            "peer 7 v = 2.5\n"
            "peer 8 v throws\n"
            "clock 2026-12-07 12:01:01\n"
            "clock 2026-12-07 12:01:00\n"
            "clock 2027-01-01 00:00:00\n"
            "ioctl 100 [1E 00] -> 100 out_size=2\n"
            "cache 151 bytes -> false\n"
            "< process 1 bytes -> 1\n"
            "  SendSP 5013 152 bytes false " +
                FakeRecord(1, 13) +
                "\n"
                "  SaveDeviceHistory 152 bytes " +
                FakeRecord(1, 13) +
                "\n"
                "  stdout (no line end): partial\n"
                "cache last history record of id 1, 152 bytes -> true\n"
                "query v -> 13\n"
                "destroy at end\n"
                "  stdout: fake 1 gone\n");
}

// A members line follows an action exactly when it changed one of the
// device's data state members, and shows all three as they are afterwards.
TEST(Replayer, MembersLineFollowsEveryChangeOfTheDataState) {
  struct Case {
    const char* name;
    const char* actions;  // after "create 1 1"
    const char* members;  // the members lines, in order
  };
  const Case cases[] = {
      {"no change, no line", "ioctl 1 00 00 00\ntick\nquery v\n", ""},
      {"ready", "ioctl 1 01 00 00\n", "members data_ready=1 data_changed=0 device_state=0\n"},
      {"changed, then back", "ioctl 1 01 01 00\nioctl 1 01 01 00\nioctl 1 01 00 00\n",
       "members data_ready=1 data_changed=1 device_state=0\n"
       "members data_ready=1 data_changed=0 device_state=0\n"},
      {"state in decimal", "ioctl 1 00 00 0C\nioctl 1 00 00 00\n",
       "members data_ready=0 data_changed=0 device_state=12\n"
       "members data_ready=0 data_changed=0 device_state=0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::istringstream lines(Replay(std::string("create 1 1\n") + c.actions));
    std::string members, line;
    while (std::getline(lines, line))
      if (line.rfind("  members ", 0) == 0) members += line.substr(2) + "\n";
    EXPECT_EQ(members, c.members);
  }
}

// The line sits after the action's other event lines; create counts from
// the base's zeros, so a device made with its state set shows it at once.
TEST(Replayer, MembersLineComesLastAndCreateCountsFromZero) {
  const DeviceFactory make_set = [] { return std::make_unique<testing::FakeDevice>(2); };
  EXPECT_EQ(Replay("create 1 1\nioctl 1 01 01 02\ndestroy\n", false, make_set),
            "create id=1 address=1 -> 1 type=fake addr=01 baud=19200\n"
            "  members data_ready=1 data_changed=0 device_state=2\n"
            "ioctl 1 [01 01 02] -> 1 out_size=3\n"
            "  stdout: members set\n"
            "  members data_ready=1 data_changed=1 device_state=2\n"
            "destroy\n"
            "  stdout: fake 1 gone\n");
}

TEST(Replayer, ActionsThatCannotRunNameTheirLine) {
  struct Case {
    const char* name;
    const char* scenario;
    const char* error;
  };
  const Case cases[] = {
      {"no device yet", "# c\ntick\n", "t.scn:2: no device to act on"},
      {"data id twice", "create 1 1 a\ncreate 1 2 b\n", "t.scn:2: data id 1 is taken by device a"},
      {"second unnamed", "create 1 1\ncreate 2 2\n",
       "t.scn:2: with several devices, give every device a name"},
      {"name twice", "create 1 1 a\ncreate 2 2 a\n", "t.scn:2: a device named a exists already"},
      {"unknown name", "create 1 1 a\nuse b\n", "t.scn:2: no device named b"},
      {"destroyed device", "create 1 1\ndestroy\nquery v\n", "t.scn:3: no device to act on"},
      {"peer is a device", "create 1 1\npeer 1 v 2\n", "t.scn:2: data id 1 is device unnamed"},
      {"no record to cache", "create 1 1\ncache-from-last-record\n",
       "t.scn:2: no history record of data id 1 yet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      Replay(c.scenario);
      ADD_FAILURE() << "no error";
    } catch (const ScenarioError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << e.what();
    }
  }
}

// The transcript may go to std::cout itself: the device's lines must still
// be captured, and the transcript must not be captured with them.
TEST(Replayer, WritesToStdoutWhileCapturingTheDevicesLines) {
  std::streambuf* before = std::cout.rdbuf();
  ::testing::internal::CaptureStdout();
  {
    std::istringstream in("create 1 1\ntick\n");
    Replayer replayer(MakeFake, std::cout, false);
    replayer.Run(ParseScenario(in, "t.scn"), "t.scn");
  }
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::cout.rdbuf(), before);
  EXPECT_EQ(out,
            "create id=1 address=1 -> 1 type=fake addr=01 baud=19200\n"
            "tick -> 1\n"
            "  stdout: before send\n"
            "  > SendData FE FE 01 A1\n"
            "  stdout: after send\n"
            "destroy at end\n"
            "  stdout: fake 1 gone\n");
}

}  // namespace
}  // namespace runner::replay
