#include "runner/recording/output_capture.h"

#include <iostream>

namespace runner::recording {

std::string LineCapture::TakePending() {
  std::string text;
  text.swap(pending_);
  return text;
}

LineCapture::int_type LineCapture::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  Put(traits_type::to_char_type(ch));
  return ch;
}

std::streamsize LineCapture::xsputn(const char* s, std::streamsize n) {
  for (std::streamsize i = 0; i < n; ++i) Put(s[i]);
  return n;
}

void LineCapture::Put(char c) {
  if (c != '\n') {
    pending_ += c;
    return;
  }
  on_line_(TakePending());
}

ScopedCoutCapture::ScopedCoutCapture(std::streambuf& sink) : saved_(std::cout.rdbuf(&sink)) {}

ScopedCoutCapture::~ScopedCoutCapture() { std::cout.rdbuf(saved_); }

QuietCout::QuietCout(WriteCost cost) {
  std::streambuf* sink = &discard_;
  if (cost == WriteCost::kKept && dev_null_.open("/dev/null", std::ios::out)) sink = &dev_null_;
  saved_ = std::cout.rdbuf(sink);
}

QuietCout::~QuietCout() { std::cout.rdbuf(saved_); }

}  // namespace runner::recording
