#include "runner/metrics/exposition.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace runner::metrics {
namespace {

bool IsNameChar(char c, bool first, bool colon) {
  const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  return letter || (!first && c >= '0' && c <= '9') || (colon && c == ':');
}

bool IsName(const std::string& name, bool colon) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (!IsNameChar(name[i], i == 0, colon)) return false;
  return true;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string EscapeLabelValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string EscapeHelp(const std::string& help) {
  std::string out;
  for (const char c : help) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

// Plain decimals where a person reads them (0.0001, not 1e-04); exponents
// only for the very large and very small.
std::string FormatValue(double value) {
  char buffer[64];
  const double size = std::fabs(value);
  const bool plain = size == 0 || (size >= 1e-6 && size < 1e15);
  const auto [end, error] =
      plain ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
            : std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : std::string("NaN");
}

bool IsMetricName(const std::string& name) { return IsName(name, true); }

// Label names starting with "__" are Prometheus's own.
bool IsLabelName(const std::string& name) {
  return IsName(name, false) && name.rfind("__", 0) != 0;
}

void Exposition::Family(const std::string& name, const std::string& help, MetricType type) {
  // Names are this program's own: a bad one is a fault here, not in a site.
  if (!IsMetricName(name) || (type == MetricType::kCounter) != EndsWith(name, "_total"))
    throw std::logic_error("metric name " + name + " does not fit its type");
  name_ = name;
  header_ = "# HELP " + name + " " + EscapeHelp(help) + "\n# TYPE " + name + " " +
            (type == MetricType::kCounter ? "counter" : "gauge") + "\n";
}

void Exposition::Sample(const Labels& labels, double value) {
  if (!std::isfinite(value)) return;
  text_ += header_;
  header_.clear();
  text_ += name_;
  if (!labels.empty()) {
    text_ += '{';
    for (std::size_t i = 0; i < labels.size(); ++i) {
      if (!IsLabelName(labels[i].first))
        throw std::logic_error("label name " + labels[i].first + " of " + name_);
      text_ += (i ? "," : "") + labels[i].first + "=\"" + EscapeLabelValue(labels[i].second) + "\"";
    }
    text_ += '}';
  }
  text_ += ' ' + FormatValue(value) + '\n';
}

}  // namespace runner::metrics
