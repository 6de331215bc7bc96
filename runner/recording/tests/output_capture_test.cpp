#include "runner/recording/output_capture.h"

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace runner::recording {
namespace {

TEST(OutputCaptureTest, LinesArriveWholeAndCoutComesBack) {
  std::ostringstream console;
  std::streambuf* before = std::cout.rdbuf(console.rdbuf());
  std::vector<std::string> lines;
  LineCapture capture([&](const std::string& line) { lines.push_back(line); });
  {
    ScopedCoutCapture redirect(capture);
    std::cout << "rvSize is " << 0 << "\nInitSetting " << std::flush << "ok\npart";
  }
  std::cout << "after";
  std::cout.rdbuf(before);
  EXPECT_EQ(lines, (std::vector<std::string>{"rvSize is 0", "InitSetting ok"}));
  EXPECT_EQ(capture.TakePending(), "part");
  EXPECT_EQ(console.str(), "after");
}

TEST(OutputCaptureTest, QuietCoutSwallowsAndHandsBackWhatWasThere) {
  using Cost = QuietCout::WriteCost;
  for (const Cost cost : {Cost::kDropped, Cost::kKept}) {
    SCOPED_TRACE(cost == Cost::kKept ? "kept" : "dropped");
    std::vector<std::string> lines;
    LineCapture capture([&](const std::string& line) { lines.push_back(line); });
    ScopedCoutCapture outer(capture);
    {
      QuietCout quiet(cost);
      std::cout << "here 1" << std::endl;
      std::ostream console(quiet.console());
      console << "to the console\n";
    }
    std::cout << "heard\n";
    EXPECT_EQ(lines, (std::vector<std::string>{"to the console", "heard"}));
  }
}

}  // namespace
}  // namespace runner::recording
