#pragma once
// A run of the real qorv-host (QORV_HOST_PATH) in a folder, its standard
// output and error gathered, for the tests of the program as a person runs it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace runner {

// A run of the program in `dir`, its output gathered.
class Program {
 public:
  Program(const std::string& dir, const std::vector<std::string>& args) {
    int out[2], err[2];
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      if (::chdir(dir.c_str()) != 0) ::_exit(126);
      std::vector<char*> argv{const_cast<char*>(QORV_HOST_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(QORV_HOST_PATH, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Program() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    ::close(out_);
    ::close(err_);
  }

  // Reads standard output up to and including the `n`th line end.
  std::string Lines(int n) {
    std::string text;
    char c;
    while (n > 0 && ::read(out_, &c, 1) == 1) {
      text += c;
      if (c == '\n') --n;
    }
    return text;
  }
  int Wait() {
    std::string rest;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out_, buffer, sizeof buffer)) > 0) out_text_.append(buffer, n);
    while ((n = ::read(err_, buffer, sizeof buffer)) > 0) err_text_.append(buffer, n);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }
  void Signal(int sig) { ::kill(pid_, sig); }
  const std::string& out() const { return out_text_; }
  const std::string& err() const { return err_text_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  int status_ = -1;
  std::string out_text_, err_text_;
};

}  // namespace runner
