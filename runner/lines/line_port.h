#pragma once
// What a serial line needs of its port, and nothing more: write a frame,
// read what arrived, drop stale input, and a descriptor for the poll loop.
// SerialPort is the real one; tests put a fake in its place to walk a line
// through losses and recoveries without a device file.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace runner {

class LinePort {
 public:
  enum class ReadStatus { kData, kNothing, kGone };

  virtual ~LinePort() = default;

  // False when opening failed; error() then says why.
  virtual bool is_open() const = 0;
  // For poll(); -1 where the port has none.
  virtual int fd() const = 0;
  // Why opening, the last write or the last read failed.
  virtual const std::string& error() const = 0;

  // Writes the whole frame; false (with error()) when the line is gone.
  virtual bool Write(const unsigned char* data, std::size_t len) = 0;
  // Reads what has arrived, without waiting. kGone: the line has gone away.
  virtual ReadStatus Read(std::vector<unsigned char>& out) = 0;
  // Drops whatever input is waiting.
  virtual void DiscardInput() = 0;
};

// Opens the port at `path` at `baud` bit/s; closing is destroying it. A
// port that could not be opened comes back closed, saying why.
using PortOpener = std::function<std::unique_ptr<LinePort>(const std::string& path, int baud)>;

}  // namespace runner
