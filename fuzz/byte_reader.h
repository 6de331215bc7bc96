#pragma once
// Reads a fuzz input front to back. Past its end every read yields the
// fallback, so a program cut short still runs to a defined end.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace halvex::fuzz {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }

  std::uint8_t Byte(std::uint8_t fallback = 0) { return Empty() ? fallback : data_[pos_++]; }

  // Big-endian, like the monitor's readings.
  std::uint16_t U16(std::uint16_t fallback) {
    if (size_ - pos_ < 2 || Empty()) {
      pos_ = size_;
      return fallback;
    }
    const std::uint16_t value = static_cast<std::uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return value;
  }

  // Up to `count` bytes, fewer when the input ends.
  std::vector<std::uint8_t> Take(std::size_t count) {
    const std::size_t n = Empty() ? 0 : (count < size_ - pos_ ? count : size_ - pos_);
    std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace halvex::fuzz
