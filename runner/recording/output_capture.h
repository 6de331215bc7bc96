#pragma once
// What a device writes on std::cout, taken away from the console: either
// line by line, so its diagnostic lines land in a transcript between the
// host calls they came with, or swallowed whole, for benchmarks, fuzzing and
// rigs that have no use for them.
//
//   LineCapture capture([&](std::string line) { ... });
//   {
//     ScopedCoutCapture redirect(capture);   // std::cout now feeds `capture`
//     device->RefreshStatus();
//   }                                        // std::cout restored
//
//   { QuietCout quiet; RunRounds(); }        // the lines go nowhere
//
// The reference host's own run keeps fd 1 apart instead (runner/view's
// OutputSplit): there the lines go to a log file, printf's too.

#include <fstream>
#include <functional>
#include <iosfwd>
#include <streambuf>
#include <string>

namespace runner::recording {

// A stream buffer that hands every completed line (without its line end) to
// a callback as soon as the line end is written. Text after the last line
// end waits in Pending() until more arrives or TakePending() takes it.
class LineCapture : public std::streambuf {
 public:
  using LineFn = std::function<void(const std::string& line)>;
  explicit LineCapture(LineFn on_line) : on_line_(std::move(on_line)) {}

  const std::string& Pending() const { return pending_; }
  std::string TakePending();

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;

 private:
  void Put(char c);

  LineFn on_line_;
  std::string pending_;
};

// Points std::cout at `sink` for its lifetime, then restores it.
class ScopedCoutCapture {
 public:
  explicit ScopedCoutCapture(std::streambuf& sink);
  ~ScopedCoutCapture();
  ScopedCoutCapture(const ScopedCoutCapture&) = delete;
  ScopedCoutCapture& operator=(const ScopedCoutCapture&) = delete;

 private:
  std::streambuf* saved_;
};

// Swallows everything written on std::cout for its lifetime. By default
// the lines are dropped in the process. With `WriteCost::kKept` they go to
// /dev/null, so each flushed line still costs one write(2) as it does on the
// controller: what the benchmarks measure.
class QuietCout {
 public:
  enum class WriteCost { kDropped, kKept };
  explicit QuietCout(WriteCost cost = WriteCost::kDropped);
  ~QuietCout();
  QuietCout(const QuietCout&) = delete;
  QuietCout& operator=(const QuietCout&) = delete;

  // Where std::cout wrote before, for the caller's own console output.
  std::streambuf* console() const { return saved_; }

 private:
  struct Discard : std::streambuf {
    int_type overflow(int_type ch) override { return traits_type::not_eof(ch); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  };
  Discard discard_;
  std::filebuf dev_null_;
  std::streambuf* saved_;
};

}  // namespace runner::recording
