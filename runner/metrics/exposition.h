#pragma once
// The text a Prometheus server scrapes: families of samples, each family led
// by its HELP and TYPE lines, label values escaped, numbers in the shortest
// text that reads back to the same double.
//
//   Exposition out;
//   out.Family("qorv_current_amperes", "String current.", MetricType::kGauge);
//   out.Sample({{"device", "string-A"}}, -5.0);
//   out.Text();  // # HELP ...\n# TYPE qorv_current_amperes
//   gauge\nqorv_current_amperes{device="string-A"} -5\n
//
// A value that is not finite gives no sample: a device that does not give a
// value has no series, rather than a NaN a dashboard would draw as a gap
// nobody can tell from an outage. A family without samples is left out.

#include <string>
#include <utility>
#include <vector>

namespace runner::metrics {

enum class MetricType { kGauge, kCounter };

using Labels = std::vector<std::pair<std::string, std::string>>;

class Exposition {
 public:
  // Starts a family; the samples that follow belong to it. `name` must be a
  // metric name ([a-zA-Z_:][a-zA-Z0-9_:]*), a counter's ending in _total.
  void Family(const std::string& name, const std::string& help, MetricType type);
  void Sample(const Labels& labels, double value);

  const std::string& Text() const { return text_; }

 private:
  std::string name_;
  std::string header_;  // written before the family's first sample
  std::string text_;
};

// "a\"b" for a"b: backslash, double quote and line feed escaped.
std::string EscapeLabelValue(const std::string& value);
// Help text escapes backslash and line feed only.
std::string EscapeHelp(const std::string& help);
// "13.3", "-5", "0.0001", "1e+21": the shortest text that reads back to
// `value`.
std::string FormatValue(double value);
bool IsMetricName(const std::string& name);
bool IsLabelName(const std::string& name);

}  // namespace runner::metrics
