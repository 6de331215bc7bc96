// The simulator on real file descriptors: a pseudo-terminal that it makes,
// and a tty path served as a serial device.

#include "sim/port_server.h"

#include <stdlib.h>

#include <thread>

#include <gtest/gtest.h>

#include "pty_client.h"

namespace sim {
namespace {

using std::chrono::milliseconds;
using testing::PtyClient;

constexpr Command kRound[] = {Command::kCellVoltages, Command::kGroupVoltage, Command::kCurrent,
                              Command::kTemperature};

MonitorProfile Steady() {
  MonitorProfile p;
  p.drift_volts = 0;
  p.noise_volts = 0;
  return p;
}

Bus SteadyBus(FaultPlan faults = {}, bool pace = false) {
  Bus bus(BusOptions{1, pace}, std::make_shared<ManualClock>());
  bus.AddMonitor(Steady(), faults);
  return bus;
}

TEST(PortServer, PtyAnswersAWholeRound) {
  auto server = PortServer::CreatePty(SteadyBus());
  server->Start();
  PtyClient client(server->Path());
  const Monitor expected(Steady());
  for (Command command : kRound) {
    SCOPED_TRACE(static_cast<int>(command));
    client.Send(EncodeRequest(0x81, command));
    const Bytes want = expected.Answer(command, Micros{0});
    EXPECT_EQ(client.Read(want.size()), want);
  }
  server->Stop();
  EXPECT_EQ(server->counters().requests, 4u);
  EXPECT_EQ(server->counters().replies, 4u);
  EXPECT_EQ(server->Error(), "");
}

TEST(PortServer, DelayAndPacingTakeRealTime) {
  struct Case {
    const char* name;
    FaultPlan faults;
    bool pace;
    milliseconds at_least;
  };
  FaultPlan delayed;
  delayed[Fault::kDelay].count = 1;
  delayed.delay_ms = 150;
  const Case cases[] = {
      {"delay 150 ms", delayed, false, milliseconds(150)},
      {"67 bytes at 19200 bit/s", FaultPlan{}, true, milliseconds(34)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto server = PortServer::CreatePty(SteadyBus(c.faults, c.pace));
    server->Start();
    PtyClient client(server->Path());
    const auto start = std::chrono::steady_clock::now();
    client.Send(EncodeRequest(0x81, Command::kCellVoltages));
    EXPECT_EQ(client.Read(kCellReplyLength).size(), kCellReplyLength);
    EXPECT_GE(std::chrono::steady_clock::now() - start, c.at_least);
  }
}

TEST(PortServer, ServesOnTheCallersLoop) {
  auto server = PortServer::CreatePty(SteadyBus());
  PtyClient client(server->Path());
  client.Send(EncodeRequest(0x81, Command::kTemperature));
  for (int turn = 0; turn < 5 && server->counters().replies == 0; ++turn) {
    ASSERT_TRUE(server->RunOnce(milliseconds(50)));
  }
  EXPECT_EQ(client.Read(kScalarReplyLength), EncodeScalarReply(0x81, 2500));
  server->Stop();
  EXPECT_FALSE(server->RunOnce(milliseconds(0)));
}

TEST(PortServer, ServesATtyPathAsASerialDevice) {
  // A pseudo-terminal stands in for a USB-serial adapter: the simulator
  // opens the device side by path, the test plays the controller on the other.
  const int controller = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(controller, 0);
  ASSERT_EQ(grantpt(controller), 0);
  ASSERT_EQ(unlockpt(controller), 0);
  auto server = PortServer::OpenSerial(ptsname(controller), SteadyBus());
  server->Start();
  const Bytes request = EncodeRequest(0x81, Command::kCurrent);
  ASSERT_EQ(write(controller, request.data(), request.size()), 5);
  Bytes got;
  for (int i = 0; i < 100 && got.size() < kScalarReplyLength; ++i) {
    pollfd pfd{controller, POLLIN, 0};
    if (poll(&pfd, 1, 20) > 0) {
      uint8_t buffer[16];
      const ssize_t n = read(controller, buffer, sizeof buffer);
      if (n > 0) got.insert(got.end(), buffer, buffer + n);
    }
  }
  EXPECT_EQ(got, EncodeScalarReply(0x81, 0));
  server->Stop();
  close(controller);
}

}  // namespace
}  // namespace sim
