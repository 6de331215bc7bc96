// The halvex-sim program as a bench engineer runs it: options, the pty it
// prints, the -v log and the counters it prints when it is stopped.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pty_client.h"

namespace sim {
namespace {

// A running halvex-sim with its stdout and stderr on one pipe.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(out[1], STDERR_FILENO);
      close(out[0]);
      std::vector<char*> argv{const_cast<char*>(HALVEX_SIM_PATH)};
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~Program() {
    if (pid_ > 0) Wait(SIGKILL);
    close(out_);
  }

  // Output up to and including the first line that contains `text`.
  std::string ReadUntil(const std::string& text) {
    while (output_.find(text) == std::string::npos && ReadSome()) {
    }
    return output_;
  }

  // Sends `signal` (0: none), collects the rest of the output, returns the exit status.
  int Wait(int signal = 0) {
    if (signal) kill(pid_, signal);
    while (ReadSome()) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  const std::string& output() const { return output_; }

 private:
  bool ReadSome() {
    char buffer[512];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

std::string PtyPath(const std::string& output) {
  const std::string marker = "serving on ";
  const size_t at = output.find(marker);
  if (at == std::string::npos) return "";
  const size_t start = at + marker.size();
  return output.substr(start, output.find('\n', start) - start);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(Program, PtySessionAnswersARoundThenReportsCounters) {
  Program sim({"-v", "--drop", "1x", "--duration", "30", "--address", "0x81", "--profile",
               "drift_volts=0,noise_volts=0,current_encoding=sensor,current_amps=0"});
  const std::string path = PtyPath(sim.ReadUntil("serving on "));
  ASSERT_FALSE(path.empty()) << sim.output();
  {
    testing::PtyClient client(path);
    client.Send(EncodeRequest(0x81, Command::kTemperature));  // the dropped one
    EXPECT_TRUE(client.Read(5, std::chrono::milliseconds(300)).empty());
    const std::pair<Command, size_t> round[] = {{Command::kCellVoltages, 67},
                                                {Command::kGroupVoltage, 5},
                                                {Command::kCurrent, 5},
                                                {Command::kTemperature, 5}};
    for (const auto& [command, length] : round) {
      client.Send(EncodeRequest(0x81, command));
      const Bytes reply = client.Read(length);
      ASSERT_EQ(reply.size(), length);
      EXPECT_EQ(reply[0], 0xED);
      EXPECT_EQ(reply[1], 0x81);
    }
  }
  EXPECT_EQ(sim.Wait(SIGTERM), 0);
  const std::string& out = sim.output();
  EXPECT_TRUE(Contains(out, "> FE FE 81 A1 22\n< ED 81 05 32 05 32")) << out;
  EXPECT_TRUE(Contains(out, "> FE FE 81 A3 24\n< ED 81 09 C4 4E\n")) << out;  // sensor 2500 = 0 A
  EXPECT_TRUE(Contains(out, "> FE FE 81 A4 25\n< -  (drop)\n")) << out;
  EXPECT_TRUE(Contains(out, "requests 5\nreplies 4\n")) << out;
  EXPECT_TRUE(Contains(out, "\ndrop 1\n")) << out;
}

TEST(Program, RefusesBadSettingsNamingThem) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--profile", "cells=40"}, "cells"},
      {{"--corrupt", "2"}, "faults.corrupt: rate must lie in 0..1"},
      {{"--monitor", "address=0x81", "--monitor", "address=0x81"}, "two monitors answer to 0x81"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Program sim(c.args);
    EXPECT_EQ(sim.Wait(), 2);
    EXPECT_TRUE(Contains(sim.output(), c.message)) << sim.output();
  }
}

TEST(Program, HelpExplainsWireAddresses) {
  Program sim({"--help"});
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_TRUE(Contains(sim.output(), "--address")) << sim.output();
  EXPECT_TRUE(Contains(sim.output(), "+ 0x80")) << sim.output();
}

}  // namespace
}  // namespace sim
