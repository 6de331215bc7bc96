#include "soak/soak_report.h"

#include <cstdio>
#include <sstream>

namespace soak {
namespace {

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Percent(std::uint64_t part, std::uint64_t whole) {
  return whole ? Fixed(100.0 * static_cast<double>(part) / static_cast<double>(whole), 1) + " %"
               : "-";
}

std::string Counts(const std::map<std::string, std::uint64_t>& counts) {
  if (counts.empty()) return "none";
  std::string text;
  for (const auto& [name, count] : counts)
    text += (text.empty() ? "" : ", ") + name + " " + std::to_string(count);
  return text;
}

Json::Value CountsJson(const std::map<std::string, std::uint64_t>& counts) {
  Json::Value object(Json::objectValue);
  for (const auto& [name, count] : counts) object[name] = static_cast<Json::UInt64>(count);
  return object;
}

}  // namespace

std::string ReportText(const SoakResult& r) {
  const std::uint64_t attempted = r.Sum(&DeviceFigures::attempted);
  const std::uint64_t completed = r.Sum(&DeviceFigures::completed);
  const std::uint64_t rows = r.Sum(&DeviceFigures::history_rows);
  const CollisionCount& c = r.collisions;
  std::ostringstream out;
  out << "soak: " << attempted << " device poll rounds over " << r.host_rounds << " host rounds, "
      << r.devices.size() << " devices, " << Fixed(r.seconds, 1) << " s\n";
  out << "  completed rounds      " << completed << " of " << attempted << " attempted ("
      << Percent(completed, attempted) << ")\n";
  out << "  history rows          " << rows << " for " << completed << " completed rounds"
      << (rows == completed ? " (nothing lost)" : " (MISMATCH)") << "\n";
  for (const DeviceFigures& d : r.devices)
    out << "    " << d.name << ": attempted " << d.attempted << ", completed " << d.completed
        << ", re-sends " << d.resends << ", rejected " << d.rejected << ", timed out " << d.timeouts
        << ", rows " << d.history_rows << "\n";
  out << "  replies sent          " << r.replies << "; faults injected: " << Counts(r.injected)
      << "\n";
  out << "  rejected by reason    " << Counts(r.rejected_by_reason) << "\n";
  out << "  timed out by reason   " << Counts(r.timeouts_by_reason) << "\n";
  out << "  accepted values that differ from the simulator's: " << r.Sum(&DeviceFigures::values_off)
      << " in " << r.Sum(&DeviceFigures::rows_off) << " rounds\n";
  out << "    corrupted replies " << c.corrupted << ", " << c.corrupted_payload << " in a reading; "
      << c.passing << " passed their checksum (collisions)\n";
  out << "    expected collisions " << Fixed(c.expected_exact, 2) << " for these frames' sums, "
      << Fixed(c.expected_uniform, 3)
      << " for a uniform sum (4/(256*255) = " << Fixed(kUniformCollisionRate * 1e5, 2)
      << "e-5 a corrupted reading)\n";
  const auto failures = r.Failures();
  for (const std::string& failure : failures) out << "  FAILED: " << failure << "\n";
  if (!r.host_events.empty()) out << "  host events (first " << r.host_events.size() << "):\n";
  for (const std::string& line : r.host_events) out << "    " << line << "\n";
  return out.str();
}

Json::Value ReportJson(const SoakResult& r) {
  Json::Value j(Json::objectValue);
  j["host_rounds"] = r.host_rounds;
  j["seconds"] = r.seconds;
  j["attempted"] = static_cast<Json::UInt64>(r.Sum(&DeviceFigures::attempted));
  j["completed"] = static_cast<Json::UInt64>(r.Sum(&DeviceFigures::completed));
  j["history_rows"] = static_cast<Json::UInt64>(r.Sum(&DeviceFigures::history_rows));
  j["replies"] = static_cast<Json::UInt64>(r.replies);
  j["injected"] = CountsJson(r.injected);
  j["rejected_by_reason"] = CountsJson(r.rejected_by_reason);
  j["timeouts_by_reason"] = CountsJson(r.timeouts_by_reason);
  j["values_off"] = static_cast<Json::UInt64>(r.Sum(&DeviceFigures::values_off));
  j["rows_off"] = static_cast<Json::UInt64>(r.Sum(&DeviceFigures::rows_off));
  j["collisions"]["corrupted"] = static_cast<Json::UInt64>(r.collisions.corrupted);
  j["collisions"]["corrupted_payload"] = static_cast<Json::UInt64>(r.collisions.corrupted_payload);
  j["collisions"]["passing"] = static_cast<Json::UInt64>(r.collisions.passing);
  j["collisions"]["expected_exact"] = r.collisions.expected_exact;
  j["collisions"]["expected_uniform"] = r.collisions.expected_uniform;
  for (const DeviceFigures& d : r.devices) {
    Json::Value device(Json::objectValue);
    device["name"] = d.name;
    device["data_id"] = d.data_id;
    device["attempted"] = static_cast<Json::UInt64>(d.attempted);
    device["completed"] = static_cast<Json::UInt64>(d.completed);
    device["resends"] = static_cast<Json::UInt64>(d.resends);
    device["rejected"] = static_cast<Json::UInt64>(d.rejected);
    device["timeouts"] = static_cast<Json::UInt64>(d.timeouts);
    device["history_rows"] = static_cast<Json::UInt64>(d.history_rows);
    j["devices"].append(device);
  }
  for (const std::string& failure : r.Failures()) j["failures"].append(failure);
  return j;
}

}  // namespace soak
