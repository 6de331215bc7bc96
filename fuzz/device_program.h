#pragma once
// A fuzz input read as a program for one device on a recording host.
//
//   byte 0          settings: which decoding and peer options the device gets
//                   (kSixVolt ... kSensorCurrent below, or-ed)
//   then ops        each one opcode byte (taken modulo kOpCount) and its operands:
//
//   op  name        operands
//   0   chunk       n, then n % 96 bytes: received as they are (96 > 80, so
//                   some chunks overflow the reply buffer)
//   1   reply       shape, then the values: the reply the device awaits now,
//                   built right and then bent by `shape` (kSplit ... below);
//                   a cell reply takes `mode` (bit 0: 32 readings follow,
//                   else one reading for all), a scalar reply one reading
//   2   tick        -
//   3   query       which: 0 group_voltage, 1 group_current, 2 temperature,
//                   3-5 battery_<b>_value with the next byte b, 6 a name of
//                   n bytes given, 7 x_battery_0<b>_value_y
//   4   io-control  code (0 stands for 100), in_len % 4, two bytes of
//                   minutes, then 1 to pass a null pointer
//   5   cache       length (0-9: 152, 10: 151, 11: 153, else the byte
//                   itself), then up to 152 image bytes (zeros where the
//                   input ends); length 12 is a null image and 13 a length
//                   of -1, both without image bytes
//   6   clock       signed seconds; 127 stands for a day
//
// Readings and bytes missing at the end of the input take fixed values, so
// a cut program stays a valid one. make_corpus.py writes programs in this
// format; keep the two in step.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <json/value.h>

namespace runner::recording {
class RecordingController;
}

namespace halvex::fuzz {

enum Setting : std::uint8_t {
  kSixVolt = 1 << 0,        // battery_type 6: millivolt readings, 4.5..7.5 V
  kReversed = 1 << 1,       // dir 1: the string is wired the other way round
  kTrims = 1 << 2,          // t0 0.05 V, t31 -0.1 V
  kAdjust = 1 << 3,         // battery_adjust 0.25 V
  kActiveCells = 1 << 4,    // active_batteries [3, 40, -1, 29]
  kPeerSum = 1 << 5,        // group_voltage peers 9 (answers 10 V) and 11 (fails)
  kBorrowCurrent = 1 << 6,  // current from peer 12's "dc" (answers 3.5 A)
  kSensorCurrent = 1 << 7,  // version 2 and current_ratio 1
};

enum class Op : std::uint8_t { kChunk, kReply, kTick, kQuery, kIoControl, kCache, kClock };
constexpr int kOpCount = 7;

enum Shape : std::uint8_t {
  kSplit = 1 << 0,         // two chunks, cut at the next byte (mod length)
  kNoise = 1 << 1,         // next byte % 8 bytes of noise in front
  kCorrupt = 1 << 2,       // the byte at the next position xor-ed with the one after (or 1)
  kWrongAddress = 1 << 3,  // another monitor's reply, checksum right
  kTrailing = 1 << 4,      // next byte % 8 bytes behind the reply
  kOtherKind = 1 << 5,     // a scalar reply where cells are awaited, and the reverse
};

// The device configuration for a settings byte, and the peers it names.
Json::Value ProgramSettings(std::uint8_t settings);
void ScriptPeers(runner::recording::RecordingController& host);

class DeviceHarness;

// Writes programs in this format, for fixed sessions and tests.
class ProgramWriter {
 public:
  using Bytes = std::vector<std::uint8_t>;

  ProgramWriter& Tick() { return Put(Op::kTick, {}); }
  // The awaited reply, untouched: every cell at `reading`, or each its own.
  ProgramWriter& CellReply(std::uint16_t reading) { return Put(Op::kReply, {0, 0}).Put16(reading); }
  ProgramWriter& CellReply(const std::vector<std::uint16_t>& readings);
  ProgramWriter& ScalarReply(std::uint16_t reading) { return Put(Op::kReply, {0}).Put16(reading); }
  // Up to 95 bytes received as they are.
  ProgramWriter& Chunk(const Bytes& bytes);
  ProgramWriter& QueryCell(std::uint8_t cell) { return Put(Op::kQuery, {3, cell}); }
  // 0 group_voltage, 1 group_current, 2 temperature.
  ProgramWriter& QueryScalar(std::uint8_t which) { return Put(Op::kQuery, {which}); }
  ProgramWriter& Query(const std::string& name);
  ProgramWriter& SaveInterval(std::uint16_t minutes);
  // A 152-byte image; a shorter one is padded with zeros by the reader.
  ProgramWriter& Cache(const Bytes& image);
  ProgramWriter& Clock(std::int8_t seconds) {
    return Put(Op::kClock, {static_cast<std::uint8_t>(seconds)});
  }

  const Bytes& bytes() const { return bytes_; }

 private:
  ProgramWriter& Put(Op op, std::initializer_list<std::uint8_t> operands);
  ProgramWriter& Put16(std::uint16_t value);

  Bytes bytes_;
};

// Runs the program; the first invariant it breaks, or empty.
std::string RunDeviceProgram(const std::uint8_t* data, std::size_t size);

// Runs ops alone (no settings byte) on a device already set up, until they
// end or an invariant breaks; the harness keeps the verdict.
void RunOps(DeviceHarness& harness, const std::uint8_t* ops, std::size_t size);

}  // namespace halvex::fuzz
