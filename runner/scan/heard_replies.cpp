#include "runner/scan/heard_replies.h"

#include "battery/wire.h"

namespace runner::scan {

HeardReplies SortHeard(const std::vector<unsigned char>& bytes, std::uint8_t own) {
  namespace wire = halvex::wire;
  HeardReplies heard;
  std::size_t at = 0;
  while (at + 1 < bytes.size()) {
    if (bytes[at] != wire::kReplyStart) {
      ++at;
      continue;
    }
    const std::uint8_t address = bytes[at + 1];
    const std::size_t held = bytes.size() - at;
    if (address != own) {
      ++heard.others[address];
      at += held < wire::kCellReplyLength ? held : wire::kCellReplyLength;
      continue;
    }
    if (held < wire::kCellReplyLength) {
      heard.refused.push_back("cut short (" + std::to_string(held) + " of " +
                              std::to_string(wire::kCellReplyLength) + " bytes)");
      break;
    }
    if (wire::CheckReply(&bytes[at], wire::kCellReplyLength, own) == wire::ReplyCheck::kBadChecksum)
      heard.refused.push_back("bad checksum");
    at += wire::kCellReplyLength;
  }
  return heard;
}

}  // namespace runner::scan
