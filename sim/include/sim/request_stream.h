#pragma once
// Finds request frames in the byte stream a monitor hears on its line.
//
// Requests arrive split across reads or back to back, sometimes behind line
// noise. The stream keeps the unfinished tail between pushes and resyncs on
// the FE FE preamble: bytes before a preamble are skipped, a frame with a
// bad checksum gives up its preamble so a request hidden behind it is still
// found, and a run of more than two FE bytes is read as a long preamble
// (so 0xFE can never be a served address).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/wire.h"

namespace sim {

// One 5-byte frame cut from the stream.
struct RequestFrame {
  Bytes bytes;  // FE FE address code checksum, as received
  bool checksum_ok = false;
  Request request;  // address and code, valid when checksum_ok
};

class RequestStream {
 public:
  // Appends received bytes and returns every frame they complete, in order.
  std::vector<RequestFrame> Push(const uint8_t* data, size_t count);
  std::vector<RequestFrame> Push(const Bytes& data) { return Push(data.data(), data.size()); }

  // Bytes held while waiting for the rest of a frame.
  size_t Pending() const { return pending_.size(); }

 private:
  Bytes pending_;
};

}  // namespace sim
