#include "sim/request_stream.h"

#include <algorithm>

namespace sim {
namespace {

// Index of the first FE FE pair, or of a lone FE at the very end (which may
// become a preamble with the next read), or size() when neither is there.
size_t FindPreamble(const Bytes& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != kPreamble) continue;
    if (i + 1 == bytes.size() || bytes[i + 1] == kPreamble) return i;
  }
  return bytes.size();
}

}  // namespace

std::vector<RequestFrame> RequestStream::Push(const uint8_t* data, size_t count) {
  pending_.insert(pending_.end(), data, data + count);
  std::vector<RequestFrame> frames;
  for (;;) {
    pending_.erase(pending_.begin(), pending_.begin() + FindPreamble(pending_));
    if (pending_.size() < kRequestLength) break;
    if (pending_[2] == kPreamble) {  // long preamble: slide by one
      pending_.erase(pending_.begin());
      continue;
    }
    RequestFrame frame;
    frame.bytes.assign(pending_.begin(), pending_.begin() + kRequestLength);
    const auto request = DecodeRequest(frame.bytes);
    frame.checksum_ok = request.has_value();
    if (request) frame.request = *request;
    // A good frame is consumed whole; a bad one only loses its preamble.
    pending_.erase(pending_.begin(), pending_.begin() + (request ? kRequestLength : 2));
    frames.push_back(std::move(frame));
  }
  return frames;
}

}  // namespace sim
