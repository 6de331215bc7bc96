#include "runner/scan/scan_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <json/writer.h>

#include "runner/plugin_access/plugin_library.h"
#include "runner/recording/output_capture.h"
#include "runner/scan/line_scan.h"
#include "runner/scan/scan_report.h"
#include "sim/config.h"
#include "sim/config_error.h"
#include "sim/port_server.h"
#include "support/bounded_file.h"

namespace runner::scan {
namespace {

// Bad input, told to the person as it is.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void CheckRange(const ScanOptions& o) {
  if (o.from > kLastAddress || o.to > kLastAddress)
    throw UsageError("--from and --to must lie in " + std::to_string(kFirstAddress) + ".." +
                     std::to_string(kLastAddress) + ", got " + std::to_string(o.from) + ".." +
                     std::to_string(o.to));
  if (o.from > o.to)
    throw UsageError("--from " + std::to_string(o.from) + " is above --to " + std::to_string(o.to));
  for (unsigned a = o.from; a <= o.to; ++a)
    if (IsPollable(a)) return;
  throw UsageError("addresses " + std::to_string(o.from) + ".." + std::to_string(o.to) +
                   " hold none to poll: 126 goes on the wire as 0xFE, the request preamble");
}

void CheckOptions(const ScanOptions& o) {
  CheckRange(o);
  if (o.tries == 0) throw UsageError("--tries must be at least 1");
  if (o.timeout_ms == 0) throw UsageError("--timeout-ms must be at least 1");
  if (o.battery_type != 12 && o.battery_type != 6)
    throw UsageError("--battery-type must be 12 or 6, got " + std::to_string(o.battery_type));
}

// Refuses a site path that could not be written before the scan takes its
// time, not after.
void CheckWritable(const std::string& path, bool force) {
  if (path.empty()) return;
  if (std::filesystem::is_directory(path))
    throw UsageError("--site " + path + ": is a folder, not a file");
  // A site file an operator edited is not overwritten by accident.
  if (!force && ::access(path.c_str(), F_OK) == 0)
    throw UsageError("--site " + path +
                     ": exists; give --force to replace it (the old one is kept as " + path +
                     ".bak)");
  const std::size_t slash = path.rfind('/');
  const std::string dir =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const bool exists = ::access(path.c_str(), F_OK) == 0;
  if (::access(exists ? path.c_str() : dir.c_str(), W_OK) != 0)
    throw UsageError("--site " + path + ": cannot be written: " + std::strerror(errno));
}

// The simulator's settings from "sim:FILE", as JSON and checked.
Json::Value ReadSimSettings(const std::string& port, const std::string& file) {
  std::string text;
  try {
    text = support::ReadBoundedFile(file, std::size_t{1} << 20, "a simulator settings file");
  } catch (const support::FileError& e) {
    throw UsageError(port + ": " + e.problem());
  }
  try {
    Json::Value settings = sim::ParseJsonText(text, file);
    sim::ParseBusConfig(settings);
    return settings;
  } catch (const sim::ConfigError& e) {
    throw UsageError(port + ": " + e.what());
  }
}

// JSON text with numbers as short as they read back the same: 0.3, not
// 0.29999999999999999.
std::string JsonText(const Json::Value& value, const char* indentation) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = indentation;
  builder["precision"] = 15;
  builder["precisionType"] = "significant";
  return Json::writeString(builder, value);
}

void WriteSite(const std::string& path, const Json::Value& site) {
  if (::access(path.c_str(), F_OK) == 0 && std::rename(path.c_str(), (path + ".bak").c_str()) != 0)
    throw UsageError("--site " + path + ": cannot keep the old file as " + path +
                     ".bak: " + std::strerror(errno));
  std::ofstream file(path, std::ios::trunc);
  file << JsonText(site, "  ") << "\n";
  file.close();
  if (!file) throw UsageError("--site " + path + ": cannot be written: " + std::strerror(errno));
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

int Scan(const ScanOptions& o, std::ostream& out) {
  CheckOptions(o);
  CheckWritable(o.site, o.force);
  SitePort site_port;
  std::unique_ptr<sim::PortServer> server;
  std::string path = o.port;
  if (o.port.rfind(kSimPortPrefix, 0) == 0) {
    site_port.sim = ReadSimSettings(o.port, o.port.substr(std::strlen(kSimPortPrefix)));
    server = sim::PortServer::CreatePty(sim::Bus(sim::ParseBusConfig(site_port.sim)));
    server->Start();
    path = server->Path();
  } else {
    site_port.path = o.port;
  }
  // The site file is read from its own folder: name the plug-in absolutely.
  if (!o.plugin.empty()) site_port.plugin = std::filesystem::absolute(o.plugin).string();
  ScanSettings settings;
  settings.from = o.from;
  settings.to = o.to;
  settings.tries = o.tries;
  settings.reply_timeout = std::chrono::milliseconds(o.timeout_ms);
  if (o.battery_type != 12) {
    settings.device_config["appSetting"]["battery_type"] = o.battery_type;
    site_port.device_config = settings.device_config;
  }
  const qorv::PluginLibrary plugin(o.plugin.empty() ? o.default_plugin : o.plugin);

  if (!o.json)
    out << "scanning " << o.port << ": addresses " << o.from << ".." << o.to << ", "
        << Plural(o.tries, "poll", "polls") << " each, reply timeout " << o.timeout_ms << " ms"
        << std::endl;
  ScanReport report;
  {
    recording::QuietCout quiet;  // the devices' diagnostic lines
    report = ScanLine(plugin, path, settings);
  }
  report.port = o.port;
  if (o.json) {
    out << JsonText(ReportJson(report), "") << "\n";
  } else {
    out << FormatTable(report) << Plural(report.found.size(), "monitor", "monitors") << " found, "
        << report.addresses_polled << " addresses polled in " << report.took.count() / 1000.0
        << " s\n";
  }
  if (o.site.empty()) return 0;
  if (report.found.empty()) throw UsageError("no monitor found: " + o.site + " not written");
  WriteSite(o.site, SiteJson(report, site_port));
  if (!o.json) out << "site file written: " << o.site << "\n";
  return 0;
}

}  // namespace

int RunScan(const ScanOptions& options, std::ostream& out, std::ostream& err) {
  try {
    return Scan(options, out);
  } catch (const std::exception& e) {
    err << "qorv-host scan: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace runner::scan
