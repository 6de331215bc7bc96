#include "runner/replay/scenario_bytes.h"

#include <cctype>
#include <stdexcept>

namespace runner::replay {
namespace {

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

}  // namespace runner::replay
