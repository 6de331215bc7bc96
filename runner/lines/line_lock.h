#pragma once
// An exclusive claim on a serial device, honoured by the other programs
// that may want the same adapter: a second host, a terminal program, a
// modem tool. Two talkers on one RS-485 line garble each other's frames,
// so a line that is busy is refused, naming its holder when it can be
// told.
//
// The claim has three parts, each of which some tools look at:
//   - flock(LOCK_EX) on the open device;
//   - a lock file LCK..<name> holding the PID, in /run/lock or /var/lock,
//     or in the folder QORV_LOCK_DIR names (skipped where the folder is
//     missing or not writable); one whose PID is dead is stale and taken
//     over;
//   - TIOCEXCL on a real serial line, which refuses further opens of it by
//     unprivileged programs.

#include <string>

namespace runner {

class LineLock {
 public:
  LineLock() = default;
  ~LineLock();
  LineLock(const LineLock&) = delete;
  LineLock& operator=(const LineLock&) = delete;

  // Claims the line open on `fd`, opened from `path`. False when another
  // program holds it; `busy_with` then says who, e.g. "pid 1234 (minicom)"
  // or "another program" when that cannot be told.
  bool Take(int fd, const std::string& path, std::string& busy_with);

  // Gives the claim up; the descriptor stays open. Done by the destructor.
  void Release();

 private:
  int fd_ = -1;
  bool exclusive_ = false;  // we set TIOCEXCL
  std::string lock_file_;   // ours, removed on release
};

// Who holds `path` (its lock file's PID, or a flock on it in /proc/locks),
// as "pid 1234 (minicom)"; empty when nobody can be found.
std::string DescribeLineHolder(const std::string& path);

// The lock file name for a device: "/dev/ttyUSB0" -> "LCK..ttyUSB0",
// "/dev/pts/3" -> "LCK..pts_3".
std::string LockFileName(const std::string& path);

}  // namespace runner
