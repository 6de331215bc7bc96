#pragma once
// Captures what a device writes on std::cout, a line at a time, so that its
// diagnostic lines land in the transcript between the host calls they came
// with.
//
//   LineCapture capture([&](std::string line) { ... });
//   {
//     ScopedCoutCapture redirect(capture);   // std::cout now feeds `capture`
//     device->RefreshStatus();
//   }                                        // std::cout restored

#include <functional>
#include <iosfwd>
#include <streambuf>
#include <string>

namespace halvex::replay {

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

// Points std::cout at a LineCapture for its lifetime, then restores it.
class ScopedCoutCapture {
 public:
  explicit ScopedCoutCapture(LineCapture& capture);
  ~ScopedCoutCapture();
  ScopedCoutCapture(const ScopedCoutCapture&) = delete;
  ScopedCoutCapture& operator=(const ScopedCoutCapture&) = delete;

 private:
  std::streambuf* saved_;
};

}  // namespace halvex::replay
