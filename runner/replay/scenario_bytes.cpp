#include "runner/replay/scenario_bytes.h"

#include <cctype>
#include <stdexcept>

namespace runner::replay {
namespace {

constexpr unsigned char kReplyStart = 0xED;
constexpr unsigned kChecksumModulus = 254;
// Far beyond any frame or record; keeps a typo like 00*99999999 from
// exhausting memory.
constexpr std::size_t kMaxBytesPerLine = 65536;

struct Repeated {
  std::string body;
  std::size_t count = 1;
};

std::size_t ParseCount(const std::string& text, const std::string& token) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    throw std::invalid_argument("bad repeat count in '" + token + "'");
  const std::size_t n = std::stoul(text);
  if (n == 0) throw std::invalid_argument("repeat count 0 in '" + token + "'");
  return n;
}

// "0532*30" -> {"0532", 30}; "ED" -> {"ED", 1}.
Repeated SplitRepeat(const std::string& token) {
  const auto star = token.find('*');
  if (star == std::string::npos) return {token, 1};
  return {token.substr(0, star), ParseCount(token.substr(star + 1), token)};
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Bytes HexBody(const std::string& body, const std::string& token) {
  if (body.empty() || body.size() % 2 != 0)
    throw std::invalid_argument("'" + token + "' is not whole hex bytes");
  Bytes out;
  for (std::size_t i = 0; i < body.size(); i += 2) {
    const int hi = HexDigit(body[i]), lo = HexDigit(body[i + 1]);
    if (hi < 0 || lo < 0) throw std::invalid_argument("'" + token + "' is not hex");
    out.push_back(static_cast<unsigned char>(hi * 16 + lo));
  }
  return out;
}

void CheckSize(std::size_t size) {
  if (size > kMaxBytesPerLine)
    throw std::invalid_argument("more than " + std::to_string(kMaxBytesPerLine) +
                                " bytes on one line");
}

}  // namespace

Bytes ParseHex(const std::vector<std::string>& tokens) {
  Bytes out;
  for (const auto& token : tokens) {
    const Repeated r = SplitRepeat(token);
    const Bytes body = HexBody(r.body, token);
    CheckSize(out.size() + body.size() * r.count);
    for (std::size_t i = 0; i < r.count; ++i) out.insert(out.end(), body.begin(), body.end());
  }
  return out;
}

std::vector<std::uint16_t> ParseReadings(const std::vector<std::string>& tokens) {
  std::vector<std::uint16_t> out;
  for (const auto& token : tokens) {
    const Repeated r = SplitRepeat(token);
    if (r.body.empty() || r.body.size() > 5 ||
        r.body.find_first_not_of("0123456789") != std::string::npos)
      throw std::invalid_argument("'" + token + "' is not a reading (0 to 65535)");
    const unsigned long reading = std::stoul(r.body);
    if (reading > 0xFFFF) throw std::invalid_argument("reading '" + token + "' exceeds 65535");
    CheckSize(2 * (out.size() + r.count));
    out.insert(out.end(), r.count, static_cast<std::uint16_t>(reading));
  }
  return out;
}

unsigned char ReplyChecksum(const unsigned char* data, std::size_t len) {
  unsigned char sum = 0;
  for (std::size_t i = 0; i < len; ++i) sum = static_cast<unsigned char>(sum + data[i]);
  return static_cast<unsigned char>(sum % kChecksumModulus);
}

// > ED addr [readings, high byte first] cs     cs over addr and readings
Bytes BuildReply(unsigned char address, const std::vector<std::uint16_t>& readings,
                 bool bad_checksum) {
  Bytes frame{kReplyStart, address};
  for (std::uint16_t r : readings) {
    frame.push_back(static_cast<unsigned char>(r >> 8));
    frame.push_back(static_cast<unsigned char>(r & 0xFF));
  }
  unsigned char cs = ReplyChecksum(frame.data() + 1, frame.size() - 1);
  if (bad_checksum) cs = static_cast<unsigned char>(cs + 1);
  frame.push_back(cs);
  return frame;
}

std::vector<Bytes> SplitFrame(const Bytes& frame, const std::vector<std::size_t>& sizes) {
  std::vector<Bytes> chunks;
  std::size_t at = 0;
  for (std::size_t size : sizes) {
    if (size == 0) throw std::invalid_argument("a chunk of 0 bytes");
    if (size > frame.size() - at)
      throw std::invalid_argument("chunks add up to more than the " + std::to_string(frame.size()) +
                                  "-byte frame");
    chunks.emplace_back(frame.begin() + static_cast<long>(at),
                        frame.begin() + static_cast<long>(at + size));
    at += size;
  }
  if (at < frame.size()) chunks.emplace_back(frame.begin() + static_cast<long>(at), frame.end());
  return chunks;
}

}  // namespace runner::replay
