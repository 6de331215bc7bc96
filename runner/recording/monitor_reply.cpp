#include "runner/recording/monitor_reply.h"

#include <stdexcept>
#include <string>

#include "battery/wire.h"

namespace runner::recording {
namespace {

constexpr unsigned kChecksumModulus = 254;

}  // namespace

unsigned char ReplyChecksum(const unsigned char* data, std::size_t len) {
  unsigned char sum = 0;
  for (std::size_t i = 0; i < len; ++i) sum = static_cast<unsigned char>(sum + data[i]);
  return static_cast<unsigned char>(sum % kChecksumModulus);
}

FrameBytes BuildReply(unsigned char address, const std::vector<std::uint16_t>& readings,
                      bool bad_checksum) {
  FrameBytes frame{halvex::wire::kReplyStart, address};
  for (std::uint16_t r : readings) {
    frame.push_back(static_cast<unsigned char>(r >> 8));
    frame.push_back(static_cast<unsigned char>(r & 0xFF));
  }
  unsigned char cs = ReplyChecksum(frame.data() + 1, frame.size() - 1);
  if (bad_checksum) cs = static_cast<unsigned char>(cs + 1);
  frame.push_back(cs);
  return frame;
}

std::vector<FrameBytes> SplitFrame(const FrameBytes& frame, const std::vector<std::size_t>& sizes) {
  std::vector<FrameBytes> chunks;
  std::size_t at = 0;
  for (std::size_t size : sizes) {
    if (size == 0) throw std::invalid_argument("a chunk of 0 bytes");
    if (size > frame.size() - at)
      throw std::invalid_argument("chunks add up to more than the " + std::to_string(frame.size()) +
                                  "-byte frame");
    chunks.emplace_back(frame.begin() + static_cast<long>(at),
                        frame.begin() + static_cast<long>(at + size));
    at += size;
  }
  if (at < frame.size()) chunks.emplace_back(frame.begin() + static_cast<long>(at), frame.end());
  return chunks;
}

}  // namespace runner::recording
