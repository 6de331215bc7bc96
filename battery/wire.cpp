#include "battery/wire.h"

namespace halvex::wire {

unsigned char Checksum(const unsigned char* data, std::size_t len) {
  unsigned char sum = 0;
  for (std::size_t i = 0; i < len; ++i) sum = static_cast<unsigned char>(sum + data[i]);
  return static_cast<unsigned char>(sum % 254);
}

ReplyCheck CheckReply(const unsigned char* reply, unsigned length, unsigned char address) {
  if (reply[0] != kReplyStart) return ReplyCheck::kBadStart;
  if (reply[1] != address) return ReplyCheck::kWrongAddress;
  // Covers the address and the payload: everything between the start byte
  // and the checksum byte.
  if (Checksum(reply + 1, length - 2) != reply[length - 1]) return ReplyCheck::kBadChecksum;
  return ReplyCheck::kGood;
}

}  // namespace halvex::wire
