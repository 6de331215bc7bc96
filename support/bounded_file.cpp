#include "support/bounded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace support {
namespace {

class FileCloser {
 public:
  explicit FileCloser(int fd) : fd_(fd) {}
  ~FileCloser() { ::close(fd_); }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  int fd_;
};

// Bytes of the UTF-8 character `lead` starts, or 0 for a byte no character
// starts with.
std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Length of the valid character at `at`, or 0 when there is none.
std::size_t TextCharAt(const std::string& s, std::size_t at) {
  const auto lead = static_cast<unsigned char>(s[at]);
  if (lead < 0x80) return (lead >= 0x20 && lead != 0x7F) || lead == '\t' ? 1 : 0;
  const std::size_t n = Utf8Length(lead);
  if (n == 0 || at + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[at + k]) & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

FileError::FileError(const std::string& path, const std::string& problem)
    : std::runtime_error(path + ": " + problem), problem_(problem) {}

std::string SizeText(std::size_t bytes) {
  if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

std::string ReadBoundedFile(const std::string& path, std::size_t max_bytes, const char* kind) {
  const std::string limit = std::string(kind) + " is at most " + SizeText(max_bytes);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw FileError(path, std::string("cannot be read: ") + std::strerror(errno));
  FileCloser closer(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    throw FileError(path, std::string("cannot be read: ") + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw FileError(path, "is a folder, not a file");
  if (!S_ISREG(st.st_mode)) throw FileError(path, "is not a regular file");
  if (static_cast<std::size_t>(st.st_size) > max_bytes)
    throw FileError(path, "is " + std::to_string(st.st_size) + " bytes; " + limit);
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw FileError(path, std::string("cannot be read: ") + std::strerror(errno));
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > max_bytes) throw FileError(path, "grew while being read; " + limit);
  }
  return text;
}

std::string Printable(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = TextCharAt(text, at);
    if (n > 0) {
      out.append(text, at, n);
      at += n;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[at]));
    out += escaped;
    ++at;
  }
  return out;
}

std::size_t FirstNonTextColumn(const std::string& line) {
  for (std::size_t at = 0; at < line.size();) {
    const std::size_t n = TextCharAt(line, at);
    if (n == 0) return at + 1;
    at += n;
  }
  return 0;
}

}  // namespace support
