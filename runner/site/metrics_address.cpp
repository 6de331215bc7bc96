#include "runner/site/metrics_address.h"

#include <cstdlib>

#include <arpa/inet.h>

namespace runner {
namespace {

constexpr const char* kForms = "give PORT, ADDRESS:PORT or [IPV6-ADDRESS]:PORT";

int ParsePort(const std::string& text, const std::string& whole) {
  const bool digits = !text.empty() && text.size() <= 5 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  const long n = digits ? std::strtol(text.c_str(), nullptr, 10) : -1;
  if (n < 1 || n > 65535)
    throw std::invalid_argument("\"" + whole + "\": port must be 1..65535, got \"" + text + "\"");
  return static_cast<int>(n);
}

bool IsAddress(const std::string& host, int family) {
  unsigned char buffer[sizeof(struct in6_addr)];
  return ::inet_pton(family, host.c_str(), buffer) == 1;
}

}  // namespace

std::string MetricsAddress::Text() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

MetricsAddress ParseMetricsAddress(const std::string& text) {
  MetricsAddress out;
  if (text.empty()) throw std::invalid_argument(std::string("is empty: ") + kForms);
  if (text.find_first_not_of("0123456789") == std::string::npos) {
    out.port = ParsePort(text, text);
    return out;
  }
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find("]:");
    if (close == std::string::npos) throw std::invalid_argument("\"" + text + "\": " + kForms);
    out.host = text.substr(1, close - 1);
    if (!IsAddress(out.host, AF_INET6))
      throw std::invalid_argument("\"" + text + "\": \"" + out.host + "\" is no IPv6 address");
    out.port = ParsePort(text.substr(close + 2), text);
    return out;
  }
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || text.find(':', colon + 1) != std::string::npos ||
      text.find('/') != std::string::npos)  // a URL: the path is always /metrics
    throw std::invalid_argument("\"" + text + "\": " + kForms);
  out.host = text.substr(0, colon);
  if (out.host != "localhost" && !IsAddress(out.host, AF_INET))
    throw std::invalid_argument("\"" + text + "\": \"" + out.host +
                                "\" is no IPv4 address (names other than localhost are not "
                                "taken; IPv6 goes in brackets)");
  out.port = ParsePort(text.substr(colon + 1), text);
  return out;
}

}  // namespace runner
