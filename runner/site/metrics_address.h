#pragma once
// Where the host serves its metrics over HTTP: the site file's "metrics"
// key or --metrics.
//
//   "metrics": "9108"              127.0.0.1, port 9108: this machine only
//   "metrics": "127.0.0.1:9108"
//   "metrics": "0.0.0.0:9108"      every IPv4 address of the machine
//   "metrics": "[::1]:9108"        IPv6 in brackets
//
// Only numeric addresses (and "localhost") are taken: a listening socket
// bound to a name that resolves differently tomorrow is a surprise.

#include <stdexcept>
#include <string>

namespace runner {

struct MetricsAddress {
  std::string host = "127.0.0.1";
  int port = 9108;

  // "127.0.0.1:9108", "[::1]:9108".
  std::string Text() const;
};

// Throws std::invalid_argument saying what is wrong with `text`.
MetricsAddress ParseMetricsAddress(const std::string& text);

}  // namespace runner
