#pragma once
// What the fault tests share: files, and programs run through the shell as
// a person would. Each test's scratch folder is a TestFolder of its own.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace runner::faults {

inline std::string ReadText(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

struct ProgramRun {
  int status = -1;
  std::string err;
};

// Runs `command` in `dir` with a time limit; its standard error is gathered.
inline ProgramRun Shell(const std::string& dir, const std::string& command) {
  const int status = std::system(
      ("cd '" + dir + "' && timeout -s KILL 30 " + command + " >stdout 2>stderr").c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(dir + "/stderr")};
}

}  // namespace runner::faults
