#pragma once
// What came back while an address was polled and its device took no reply:
// another monitor's reply (its address byte says whose: a late answer, or
// two monitors on one address), or a reply of this address that the device
// refused, with why. A wiring or termination fault shows as refused replies;
// a slow monitor as replies heard while its neighbour was polled.
//
//   < ED 82 [64 bytes] cs      another address's reply, taken by its byte
//   < ED 81 [40 bytes]         this address, cut short

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace runner::scan {

struct HeardReplies {
  std::map<std::uint8_t, unsigned> others;  // wire byte -> replies carrying it
  std::vector<std::string> refused;         // this address's replies, why refused
};

// Sorts the bytes heard after a cell request to the monitor at wire byte
// `own`: each reply start (0xED) with the address byte after it.
HeardReplies SortHeard(const std::vector<unsigned char>& bytes, std::uint8_t own);

}  // namespace runner::scan
