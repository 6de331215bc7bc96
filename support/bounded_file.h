#pragma once
// Reading a whole input file with bounds, for every file a person hands the
// tools (site file, scenario, capture part, simulator settings): a FIFO
// would block, /dev/zero would never end, and a file of gigabytes would take
// the controller's memory.
//
//   std::string text = support::ReadBoundedFile(path, 16 << 20, "a scenario");
//   // throws support::FileError: "x.scn: is not a regular file"

#include <cstddef>
#include <stdexcept>
#include <string>

namespace support {

// A file that cannot be read as asked; what() is "path: problem".
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& path, const std::string& problem);
  const std::string& problem() const { return problem_; }

 private:
  std::string problem_;
};

// The whole of a regular file of at most `max_bytes`; `kind` names what the
// file should be in the message ("a scenario is at most 16 MiB").
std::string ReadBoundedFile(const std::string& path, std::size_t max_bytes, const char* kind);

// "16 MiB", "64 KiB", "300 bytes".
std::string SizeText(std::size_t bytes);

// `text` with every byte that is not printable ASCII or part of valid UTF-8
// written as \xNN, for a message that quotes input.
std::string Printable(const std::string& text);

// The 1-based column of the first byte of `line` that is not text (a
// control byte other than tab, or a byte that is not part of valid UTF-8);
// 0 when every byte is text.
std::size_t FirstNonTextColumn(const std::string& line);

}  // namespace support
