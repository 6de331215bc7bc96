#pragma once
// Keeps the terminal for the live view while the devices talk on stdout.
//
// The plug-in writes diagnostic lines to standard output every round
// ("rvSize is 0"); drawn into the view they would tear it. So the host
// keeps a duplicate of the original fd 1 for the view (or the JSON lines)
// and points fd 1, and with it std::cout and printf, at a log file. The
// host's own messages go to that log as well.

#include <cstdint>
#include <string>

namespace runner {

class OutputSplit {
 public:
  // Duplicates fd 1 for the view, then sends fd 1 to `log_path`
  // (appending). Throws std::runtime_error naming the file.
  explicit OutputSplit(const std::string& log_path);
  ~OutputSplit();  // points fd 1 back at the terminal
  OutputSplit(const OutputSplit&) = delete;
  OutputSplit& operator=(const OutputSplit&) = delete;

  // Writes to the original standard output.
  void Write(const std::string& text) const;
  bool IsTerminal() const;
  // The terminal's width, or 80 when it has none.
  int Columns() const;
  // The terminal's height, or 0 when it has none.
  int Rows() const;

  // Once the log has reached `max_bytes`, moves it to "<log>.1" (older ones
  // to ".2" .. ".<keep>", the oldest dropped) and sends fd 1 to a fresh
  // log. Call between rounds. 0 bytes: never. Returns a message when the
  // rotation failed (the log then goes on growing), else empty.
  std::string RotateIfOver(std::uintmax_t max_bytes, unsigned keep);

 private:
  std::string log_path_;
  int view_fd_ = -1;
};

}  // namespace runner
