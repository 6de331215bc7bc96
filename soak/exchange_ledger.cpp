#include "soak/exchange_ledger.h"

#include <algorithm>

#include "soak/soak_plan.h"

namespace soak {
namespace {

constexpr std::size_t kRecentReplies = 8;  // per bus, enough to look one round back
constexpr std::size_t kLookBack = 3;       // earlier replies that can leave bytes behind
// > FE FE aa cc ss
constexpr std::size_t kRequestAddress = 2;
constexpr std::size_t kRequestCommand = 3;

// Noise carries no start byte, split pieces are gathered, trailing bytes
// are dropped with the reply or skipped: none spoils a reply alone.
bool SpoilsAlone(sim::Fault fault) {
  return fault != sim::Fault::kNoise && fault != sim::Fault::kSplit &&
         fault != sim::Fault::kTrailing;
}

bool Has(const std::vector<sim::Fault>& faults, sim::Fault fault) {
  return std::find(faults.begin(), faults.end(), fault) != faults.end();
}

unsigned Sum8(const sim::Bytes& bytes, std::size_t from, std::size_t to) {
  unsigned sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += bytes[i];
  return sum & 0xFF;
}

bool ChecksumHolds(const sim::Bytes& frame) {
  return frame.size() >= 3 && Sum8(frame, 1, frame.size() - 1) % 254 == frame.back();
}

}  // namespace

std::string FaultText(const std::vector<sim::Fault>& faults) {
  if (faults.empty()) return "clean";
  std::string text;
  for (sim::Fault fault : faults) {
    if (!text.empty()) text += "+";
    text += sim::FaultName(fault);
  }
  return text;
}

void ExchangeLedger::Record(std::size_t bus, const sim::Exchange& exchange) {
  using Outcome = sim::Exchange::Outcome;
  if (exchange.outcome != Outcome::kAnswered && exchange.outcome != Outcome::kDropped &&
      exchange.outcome != Outcome::kSilent)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Reply>& recent = recent_[bus];
  recent.push_back(Reply{exchange.request.at(kRequestAddress), exchange.faults});
  // A silence injected earlier still holds: the monitor keeps quiet without
  // a fault of this exchange's own.
  if (exchange.outcome == Outcome::kSilent && exchange.faults.empty())
    recent.back().faults.push_back(sim::Fault::kSilence);
  if (recent.size() > kRecentReplies) recent.erase(recent.begin());
  for (sim::Fault fault : exchange.faults) ++injected_[sim::FaultName(fault)];
  if (exchange.outcome != Outcome::kAnswered) return;
  ++replies_;
  if (Has(exchange.faults, sim::Fault::kCorrupt) &&
      !Has(exchange.faults, sim::Fault::kWrongAddress))
    CountCollision(bus, exchange);
}

// The corrupted frame lies somewhere in the stream (behind any noise) and
// differs from the clean one in exactly one byte.
void ExchangeLedger::CountCollision(std::size_t bus, const sim::Exchange& exchange) {
  ++collisions_.corrupted;
  const sim::Bytes clean =
      clean_(bus, exchange.request.at(kRequestAddress), exchange.request.at(kRequestCommand));
  const sim::Bytes stream = sim::Join(exchange.reply);
  if (clean.size() < 3 || stream.size() < clean.size()) return;
  for (std::size_t at = 0; at + clean.size() <= stream.size(); ++at) {
    std::size_t changed = clean.size();
    int differences = 0;
    for (std::size_t i = 0; i < clean.size() && differences < 2; ++i)
      if (stream[at + i] != clean[i]) {
        changed = i;
        ++differences;
      }
    if (differences != 1) continue;
    const bool payload = changed >= 2 && changed + 1 < clean.size();
    if (!payload) return;  // start byte, address or checksum: never taken
    ++collisions_.corrupted_payload;
    collisions_.expected_uniform += kUniformCollisionRate;
    if (SharesRemainder(Sum8(clean, 1, clean.size() - 1)))
      collisions_.expected_exact += 1.0 / 255.0;
    const sim::Bytes frame(stream.begin() + static_cast<long>(at),
                           stream.begin() + static_cast<long>(at + clean.size()));
    if (ChecksumHolds(frame)) ++collisions_.passing;
    return;
  }
}

std::string ExchangeLedger::Blame(std::size_t bus, std::uint8_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = recent_.find(bus);
  if (found == recent_.end()) return "no reply recorded";
  const std::vector<Reply>& recent = found->second;
  for (std::size_t i = recent.size(); i-- > 0;) {
    if (recent[i].address != address) continue;
    const std::vector<sim::Fault>& faults = recent[i].faults;
    if (std::any_of(faults.begin(), faults.end(), SpoilsAlone)) return FaultText(faults);
    for (std::size_t back = 1; back <= kLookBack && back <= i; ++back) {
      const Reply& earlier = recent[i - back];
      if (earlier.timed_out || Has(earlier.faults, sim::Fault::kDelay))
        return "late bytes of an earlier reply";
    }
    return FaultText(faults);
  }
  return "no reply recorded";
}

void ExchangeLedger::MarkTimedOut(std::size_t bus, std::uint8_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Reply>& recent = recent_[bus];
  for (std::size_t i = recent.size(); i-- > 0;)
    if (recent[i].address == address) {
      recent[i].timed_out = true;
      return;
    }
}

CollisionCount ExchangeLedger::Collisions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return collisions_;
}

std::uint64_t ExchangeLedger::replies() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return replies_;
}

std::map<std::string, std::uint64_t> ExchangeLedger::InjectedFaults() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return injected_;
}

}  // namespace soak
