#include "battery/wire.h"

namespace halvex::wire {

unsigned char Checksum(const unsigned char* data, std::size_t len) {
  unsigned char sum = 0;
  for (std::size_t i = 0; i < len; ++i) sum = static_cast<unsigned char>(sum + data[i]);
  return static_cast<unsigned char>(sum % 254);
}

}  // namespace halvex::wire
