#include "sim/pty_link.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace sim {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPtyDir = "/dev/pts/";
constexpr const char* kSimulatorName = "halvex-sim";

// The PID holding the master side of pseudo-terminal `index`, from the
// "tty-index" every open master shows in /proc/<pid>/fdinfo; 0 if none
// can be seen.
pid_t PtyMasterHolder(long index) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return 0;
  pid_t found = 0;
  const std::string wanted = "tty-index:\t" + std::to_string(index);
  while (dirent* entry = ::readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
    if (pid <= 0) continue;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fdinfo", ec)) {
      std::ifstream info(fd.path());
      for (std::string line; std::getline(info, line);)
        if (line == wanted) found = pid;
      if (found) break;
    }
    if (found) break;
  }
  ::closedir(proc);
  return found;
}

std::string CommandOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// Why `link` must be left alone, or empty when it may be replaced. A link
// to our own pseudo-terminal (its number reused for us) is stale as well.
std::string Keeper(const std::string& link) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(link, ec);
  if (ec || !fs::exists(status)) return "";
  if (!fs::is_symlink(status)) return "exists and is not a symlink";
  if (!fs::exists(fs::status(link, ec))) return "";  // points nowhere: its simulator is gone
  const std::string target = fs::read_symlink(link, ec).string();
  if (target.rfind(kPtyDir, 0) != 0)
    return "points at " + target + ", which is not a pseudo-terminal";
  const pid_t holder =
      PtyMasterHolder(std::atol(target.c_str() + std::char_traits<char>::length(kPtyDir)));
  const std::string name = holder ? CommandOf(holder) : "";
  if (name == kSimulatorName && holder != ::getpid())
    return "points at " + target + ", served by pid " + std::to_string(holder) + " (" + name + ")";
  return "";  // the number was reused by another program: the link is stale
}

}  // namespace

void PlaceLink(const std::string& target, const std::string& link) {
  const std::string keeper = Keeper(link);
  if (!keeper.empty()) throw LinkError("--link " + link + ": " + keeper);
  // A new link renamed over the old one: no moment without a link.
  const std::string fresh = link + ".new" + std::to_string(::getpid());
  std::error_code ec;
  fs::remove(fresh, ec);
  fs::create_symlink(target, fresh, ec);
  if (!ec) fs::rename(fresh, link, ec);
  if (ec) {
    fs::remove(fresh);
    throw LinkError("--link " + link + ": " + ec.message());
  }
}

void RemoveLinkIfOurs(const std::string& target, const std::string& link) {
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(link, ec)) && fs::read_symlink(link, ec).string() == target)
    fs::remove(link, ec);
}

}  // namespace sim
