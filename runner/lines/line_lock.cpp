#include "runner/lines/line_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace runner {
namespace {

constexpr const char* kLockDirs[] = {"/run/lock", "/var/lock"};
constexpr const char* kDevPrefix = "/dev/";

// QORV_LOCK_DIR moves the lock files elsewhere: tests give each run a folder
// of its own, so lines of two suites at once never meet in the system's.
std::string LockDir() {
  if (const char* own = std::getenv("QORV_LOCK_DIR"); own != nullptr && *own != '\0') return own;
  for (const char* dir : kLockDirs) {
    struct stat st {};
    if (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  }
  return "";
}

bool Alive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

std::string CommandOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

std::string Holder(pid_t pid) {
  const std::string name = CommandOf(pid);
  return "pid " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

// The PID in a lock file: ten ASCII digits and a newline by convention,
// or a binary int from older tools.
pid_t ReadLockPid(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  char* end = nullptr;
  const long pid = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() && pid > 0 && pid < (1L << 22)) return static_cast<pid_t>(pid);
  return 0;
}

// The PID holding a flock on the device's inode, from /proc/locks:
//   1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF
pid_t FlockHolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  char inode[64];
  std::snprintf(inode, sizeof inode, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long>(st.st_ino));
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, pid, where;
    fields >> number >> kind >> mode >> access >> pid >> where;
    if (kind == "FLOCK" && where == inode) return static_cast<pid_t>(std::atol(pid.c_str()));
  }
  return 0;
}

// Pseudo-terminal slaves have majors 136 to 143.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
         major(st.st_rdev) <= 143;
}

}  // namespace

std::string LockFileName(const std::string& path) {
  std::string name = path.compare(0, std::char_traits<char>::length(kDevPrefix), kDevPrefix) == 0
                         ? path.substr(std::char_traits<char>::length(kDevPrefix))
                         : path.substr(path.find_last_of('/') + 1);
  for (char& c : name)
    if (c == '/') c = '_';
  return "LCK.." + name;
}

std::string DescribeLineHolder(const std::string& path) {
  const std::string dir = LockDir();
  if (!dir.empty()) {
    const pid_t pid = ReadLockPid(dir + "/" + LockFileName(path));
    if (Alive(pid) && pid != ::getpid()) return Holder(pid);
  }
  const pid_t pid = FlockHolder(path);
  return pid > 0 ? Holder(pid) : "";
}

LineLock::~LineLock() { Release(); }

bool LineLock::Take(int fd, const std::string& path, std::string& busy_with) {
  Release();
  auto busy = [&]() {
    busy_with = DescribeLineHolder(path);
    if (busy_with.empty()) busy_with = "another program";
    return false;
  };
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return busy();
  fd_ = fd;

  const std::string dir = LockDir();
  if (!dir.empty()) {
    const std::string file = dir + "/" + LockFileName(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
      const int lock = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (lock >= 0) {
        char text[16];
        const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
        const bool written = ::write(lock, text, static_cast<std::size_t>(n)) == n;
        ::close(lock);
        if (written)
          lock_file_ = file;
        else
          ::unlink(file.c_str());
        break;
      }
      if (errno != EEXIST) break;  // a folder we may not write to: the flock stands alone
      const pid_t pid = ReadLockPid(file);
      if (Alive(pid) && pid != ::getpid()) {
        Release();
        return busy();
      }
      ::unlink(file.c_str());  // stale: its holder is gone
    }
  }
  // Exclusive mode belongs to the line and outlives a killed holder while
  // anything else keeps the line open. A simulator keeps the far side of
  // its pseudo-terminal open, so there a killed host would lock its
  // successor out; the flock and the lock file die with their holder.
  if (!IsPseudoTerminal(fd)) exclusive_ = ::ioctl(fd, TIOCEXCL) == 0;
  return true;
}

void LineLock::Release() {
  if (fd_ < 0) return;
  // Exclusive mode belongs to the line, not the descriptor; a simulator
  // holding the other end would keep it set after we close.
  if (exclusive_) ::ioctl(fd_, TIOCNXCL);
  exclusive_ = false;
  ::flock(fd_, LOCK_UN);
  if (!lock_file_.empty()) ::unlink(lock_file_.c_str());
  lock_file_.clear();
  fd_ = -1;
}

}  // namespace runner
