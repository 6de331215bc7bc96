#include "sim/chunk.h"

namespace sim {

Bytes Join(const std::vector<Chunk>& chunks) {
  Bytes joined;
  for (const Chunk& chunk : chunks) {
    joined.insert(joined.end(), chunk.bytes.begin(), chunk.bytes.end());
  }
  return joined;
}

}  // namespace sim
