#include "runner/replay/line_capture.h"

#include <iostream>

namespace halvex::replay {

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

ScopedCoutCapture::ScopedCoutCapture(LineCapture& capture)
    : saved_(std::cout.rdbuf(&capture)) {}

ScopedCoutCapture::~ScopedCoutCapture() { std::cout.rdbuf(saved_); }

}  // namespace halvex::replay
