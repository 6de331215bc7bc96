#pragma once
// The replay transcript: one line per host action, each followed by what the
// device did during it, indented and in the order it happened.
//
//   tick -> 1
//     RefreshStatus
//     > SendData FE FE 81 A1 22
//   < process 5 bytes -> 0
//     SendSP 5013 152 bytes false id=1 t=2026-12-07 12:00:00 cells=[...] gv=399 ...
//     CheckThreshold group_voltage 整组电压 399 1
//     stdout: rvSize is 0
//
// Host calls come from the RecordingController the device talks to; stdout
// lines come from a LineCapture. Both are merged by position: a stdout line
// completed after the device's n-th host call is written after that call.

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "runner/recording/recording_controller.h"

namespace runner::replay {

class Transcript {
 public:
  // Writes to `out`; `hex` adds the bytes of every record after its line.
  Transcript(std::ostream& out, const recording::RecordingController& host, bool hex);

  // Starts a host action: calls and stdout lines from here on belong to it.
  void Begin();
  // A completed stdout line of the device (LineCapture's callback).
  void StdoutLine(const std::string& line);
  // Writes the action's own line, then its host calls and stdout lines.
  // `unfinished` is stdout text the device left without a line end. With
  // `quiet`, nothing is written when the device did nothing.
  void End(const std::string& action_line, const std::string& unfinished, bool quiet = false);
  // A line of the scenario's own (clock, peer answers), with nothing under it.
  void Note(const std::string& line);
  // An event line of the host's own under the action just ended.
  void Event(const std::string& text);

  // One host call as a transcript line, without indent; records decoded.
  std::string CallText(const recording::HostCall& call) const;

 private:
  struct StdoutEntry {
    std::size_t after_calls;  // host calls made before the line was completed
    std::string text;
  };
  void WriteEvent(const std::string& text);
  void WriteCall(const recording::HostCall& call);

  std::ostream& out_;
  const recording::RecordingController& host_;
  bool hex_;
  std::size_t first_call_ = 0;
  std::vector<StdoutEntry> stdout_;
};

}  // namespace runner::replay
