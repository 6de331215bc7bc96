#pragma once
// A directory of captures: one replay scenario per device, holding
// everything the host did with it, written as the run goes.
//
//   DIR/string-A.scn     the first part: qorv-host replay DIR/string-A.scn
//   DIR/string-A.2.scn   the next part, once the first reached the size limit
//
// Every step is flushed as it is written, so a crash loses at most the step
// under way. A part that grows past the limit is closed at the device's
// next tick after a finished exchange (or, on a line that never finishes
// one, at the next tick after twice the limit). The next part starts with
// the clock, the device's creation, configuration and io-control, and a
// cache restore of the last record it published, so it replays on its own.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "runner/lines/device_recorder.h"

namespace runner::replay {

class CaptureDirectory : public CaptureSink {
 public:
  // Makes `dir` when it is missing and checks that a file can be made in
  // it. `part_max_bytes` 0: one part, never cut. Throws std::runtime_error
  // naming the directory and the problem.
  CaptureDirectory(const std::string& dir, std::uintmax_t part_max_bytes);

  // Starts the device's first part afresh, removing parts an earlier run
  // left under its name. Throws std::runtime_error when it cannot be made.
  std::unique_ptr<DeviceRecorder> Open(const DeviceSettings& device) override;

  // A device name made safe as a file name: anything but letters, digits,
  // '-', '_' and an inner '.' becomes '_'. Open adds the data id to a stem
  // that two devices would share.
  static std::string FileStem(const std::string& device_name);
  // Part `n` (1-based) of the capture whose first part is `first`.
  static std::filesystem::path PartPath(const std::filesystem::path& first, int n);

 private:
  std::filesystem::path dir_;
  std::uintmax_t part_max_bytes_;
  std::set<std::string> stems_;
};

}  // namespace runner::replay
