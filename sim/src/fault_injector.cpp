#include "sim/fault_injector.h"

#include <algorithm>

#include "random.h"

namespace sim {
namespace {

constexpr size_t kAddressOffset = 1;  // of a reply

Micros FromMillis(double ms) { return FromSeconds(ms / 1000.0); }

}  // namespace

FaultInjector::FaultInjector(FaultPlan plan, uint64_t seed)
    : plan_(std::move(plan)), rng_state_(internal::Mix(seed)) {
  Validate(plan_);
  for (size_t i = 0; i < kFaultKinds; ++i) counts_left_[i] = plan_.rules[i].count;
}

bool FaultInjector::Fires(Fault fault) {
  int& left = counts_left_[FaultIndex(fault)];
  if (left > 0) {
    --left;
    return true;
  }
  const double rate = plan_[fault].rate;
  if (rate <= 0) return false;  // a fault that is off draws nothing
  return internal::UnitFromHash(internal::Mix(rng_state_++)) < rate;
}

Delivery FaultInjector::Deliver(Bytes frame, Micros now) {
  Delivery delivery;
  if (Fires(Fault::kSilence)) {
    silent_until_ = now + FromSeconds(plan_.silence_s);
    delivery.faults.push_back(Fault::kSilence);
    return delivery;
  }
  if (Fires(Fault::kDrop)) {
    delivery.faults.push_back(Fault::kDrop);
    return delivery;
  }
  auto apply = [&](Fault fault) {
    if (!Fires(fault)) return false;
    delivery.faults.push_back(fault);
    return true;
  };
  if (apply(Fault::kWrongAddress)) MoveAddress(frame);
  if (apply(Fault::kCorrupt)) Corrupt(frame);
  Bytes stream;
  if (apply(Fault::kNoise)) stream = RandomBytes(plan_.noise_max_bytes);
  stream.insert(stream.end(), frame.begin(), frame.end());
  if (apply(Fault::kTrailing)) {
    const Bytes tail = RandomBytes(plan_.trailing_max_bytes);
    stream.insert(stream.end(), tail.begin(), tail.end());
  }
  const bool delayed = apply(Fault::kDelay);
  delivery.chunks = apply(Fault::kSplit) ? Split(stream) : std::vector<Chunk>{Chunk{stream}};
  if (delayed) delivery.chunks.front().delay_before += FromMillis(plan_.delay_ms);
  return delivery;
}

Bytes FaultInjector::RandomBytes(int max_count) {
  internal::Random random(internal::Mix(rng_state_++));
  Bytes bytes(static_cast<size_t>(random.Between(1, max_count)));
  // Never a start byte: a receiver that skips to the first 0xED must land on
  // the real reply, while corruption is the fault that fakes a start.
  for (uint8_t& byte : bytes) {
    byte = random.Byte();
    if (byte == kReplyStart) byte ^= 0x01;
  }
  return bytes;
}

void FaultInjector::Corrupt(Bytes& frame) {
  internal::Random random(internal::Mix(rng_state_++));
  const int position = random.Between(0, static_cast<int>(frame.size()) - 1);
  frame[static_cast<size_t>(position)] ^= static_cast<uint8_t>(random.Between(1, 0xFF));
}

void FaultInjector::MoveAddress(Bytes& frame) {
  internal::Random random(internal::Mix(rng_state_++));
  frame[kAddressOffset] ^= static_cast<uint8_t>(random.Between(1, 0xFF));
  ResealReply(frame);
}

std::vector<Chunk> FaultInjector::Split(const Bytes& stream) {
  internal::Random random(internal::Mix(rng_state_++));
  const int max_pieces = std::min<int>(plan_.split_max_chunks, static_cast<int>(stream.size()));
  const int pieces = random.Between(2, max_pieces);
  std::vector<size_t> cuts;
  while (static_cast<int>(cuts.size()) < pieces - 1) {
    const auto cut = static_cast<size_t>(random.Between(1, static_cast<int>(stream.size()) - 1));
    if (std::find(cuts.begin(), cuts.end(), cut) == cuts.end()) cuts.push_back(cut);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.push_back(stream.size());
  const int max_gap_us = static_cast<int>(FromMillis(plan_.split_gap_ms).count());
  std::vector<Chunk> chunks;
  size_t start = 0;
  for (size_t cut : cuts) {
    Chunk chunk{
        Bytes(stream.begin() + static_cast<long>(start), stream.begin() + static_cast<long>(cut))};
    if (start > 0) chunk.delay_before = Micros{random.Between(0, max_gap_us)};
    chunks.push_back(std::move(chunk));
    start = cut;
  }
  return chunks;
}

}  // namespace sim
