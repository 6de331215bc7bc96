#pragma once
// Helpers the fault tests share: a scratch folder per test, and programs
// run as a person would, their output gathered from files.

#include <sys/types.h>

#include <string>
#include <vector>

namespace runner::faults {

// A fresh, empty folder named after the running test.
std::string ScratchDir();

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

struct ProgramRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Starts `program` with `args` in `dir`, standard output and error going to
// files there; returns its PID.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& dir);
// Waits for a started program (killing it after `timeout_s`) and gathers its output.
ProgramRun FinishProgram(pid_t pid, const std::string& dir, double timeout_s = 30);
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& dir, double timeout_s = 30);

}  // namespace runner::faults
