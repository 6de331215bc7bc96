#include "runner/view/output_split.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace runner {

namespace {

int OpenLog(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

}  // namespace

OutputSplit::OutputSplit(const std::string& log_path) : log_path_(log_path) {
  std::cout.flush();
  std::fflush(stdout);
  const int log = OpenLog(log_path);
  if (log < 0)
    throw std::runtime_error(log_path + ": cannot open the log: " + std::strerror(errno));
  view_fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (view_fd_ < 0 || ::dup2(log, STDOUT_FILENO) < 0) {
    const std::string why = std::strerror(errno);
    ::close(log);
    if (view_fd_ >= 0) ::close(view_fd_);
    throw std::runtime_error("cannot redirect standard output: " + why);
  }
  ::close(log);
}

std::string OutputSplit::RotateIfOver(std::uintmax_t max_bytes, unsigned keep) {
  struct stat st {};
  if (max_bytes == 0 || ::fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uintmax_t>(st.st_size) < max_bytes)
    return "";
  std::cout.flush();
  std::fflush(stdout);
  auto old = [&](unsigned n) { return log_path_ + "." + std::to_string(n); };
  if (keep == 0) {
    if (::ftruncate(STDOUT_FILENO, 0) != 0)
      return log_path_ + ": cannot empty the log: " + std::strerror(errno);
    return "";
  }
  std::remove(old(keep).c_str());
  for (unsigned n = keep; n > 1; --n) std::rename(old(n - 1).c_str(), old(n).c_str());
  if (std::rename(log_path_.c_str(), old(1).c_str()) != 0)
    return log_path_ + ": cannot rotate the log: " + std::strerror(errno);
  const int log = OpenLog(log_path_);
  if (log < 0 || ::dup2(log, STDOUT_FILENO) < 0) {
    const std::string why = std::strerror(errno);
    if (log >= 0) ::close(log);
    return log_path_ + ": cannot reopen the log: " + why;
  }
  ::close(log);
  return "";
}

OutputSplit::~OutputSplit() {
  std::cout.flush();
  std::fflush(stdout);
  ::dup2(view_fd_, STDOUT_FILENO);
  ::close(view_fd_);
}

void OutputSplit::Write(const std::string& text) const {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(view_fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

bool OutputSplit::IsTerminal() const { return ::isatty(view_fd_) == 1; }

int OutputSplit::Columns() const {
  winsize size{};
  if (::ioctl(view_fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

int OutputSplit::Rows() const {
  winsize size{};
  if (::ioctl(view_fd_, TIOCGWINSZ, &size) == 0) return size.ws_row;
  return 0;
}

}  // namespace runner
