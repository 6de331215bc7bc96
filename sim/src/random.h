#pragma once
// Seeded randomness whose sequence is fixed by this code alone, so a seed
// gives the same bytes with any standard library (the standard
// distributions are free to differ between implementations).

#include <cstdint>

namespace sim::internal {

// SplitMix64 finaliser: a well-mixed 64-bit hash of `x`.
inline uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

inline uint64_t Mix(uint64_t a, uint64_t b) { return Mix(Mix(a) ^ b); }

// A uniform double in [0, 1) from the top 53 bits of a hash.
inline double UnitFromHash(uint64_t h) { return static_cast<double>(h >> 11) * 0x1.0p-53; }

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t Next() { return Mix(state_++); }
  double Unit() { return UnitFromHash(Next()); }
  bool Chance(double rate) { return rate > 0 && Unit() < rate; }
  // Uniform integer in lo..hi inclusive; lo when hi < lo.
  int Between(int lo, int hi) {
    if (hi <= lo) return lo;
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  uint8_t Byte() { return static_cast<uint8_t>(Next() & 0xFF); }

 private:
  uint64_t state_;
};

}  // namespace sim::internal
