// halvex-soak: the reference host and halvex_30.so against faulty simulated
// monitors over pseudo-terminals, for a number of device poll rounds; prints
// the figures and fails when a round's data was lost or corrupted.
#include <cstdio>
#include <iostream>

#include <CLI/CLI.hpp>
#include <json/writer.h>

#include "soak/soak_report.h"
#include "soak/soak_run.h"

int main(int argc, char** argv) {
  soak::SoakOptions options;
  options.plugin = HALVEX30_PLUGIN_PATH;
  options.history_db = "halvex-soak.db";
  std::string json_path;

  CLI::App app(
      "Soak test: qorv-host's runtime and halvex_30.so against simulated monitors that "
      "drop, corrupt, misaddress, pad, split, delay and withhold their replies.");
  app.add_option("--rounds", options.device_rounds,
                 "device poll rounds to attempt at least (ticks over all devices)")
      ->capture_default_str();
  app.add_option("--seed", options.plan.seed, "seed of every fault decision")
      ->capture_default_str();
  app.add_option("--buses", options.plan.buses, "simulated buses (pseudo-terminals)")
      ->capture_default_str()
      ->check(CLI::Range(1, 8));
  app.add_option("--monitors-per-bus", options.plan.monitors_per_bus,
                 "monitors (devices) on each bus")
      ->capture_default_str()
      ->check(CLI::Range(1, 8));
  app.add_option("--plugin", options.plugin, "the plug-in to load")->capture_default_str();
  app.add_option("--db", options.history_db, "history database (replaced)")->capture_default_str();
  app.add_option("--json", json_path, "also write the figures as one JSON object to this file");
  CLI11_PARSE(app, argc, argv);

  options.progress = [](const std::string& line) { std::cerr << "soak: " << line << std::endl; };
  // The devices' diagnostic lines go to standard output; keep them out of the report.
  std::FILE* device_log = std::freopen("/dev/null", "w", stdout);
  if (device_log == nullptr) std::cerr << "soak: device lines stay on standard output" << std::endl;

  const soak::SoakResult result = soak::RunSoak(options);
  std::cerr << soak::ReportText(result);
  if (!json_path.empty()) {
    std::FILE* out = std::fopen(json_path.c_str(), "w");
    if (out != nullptr) {
      Json::StreamWriterBuilder writer;
      writer["indentation"] = "";
      std::fprintf(out, "%s\n", Json::writeString(writer, soak::ReportJson(result)).c_str());
      std::fclose(out);
    }
  }
  return result.Failures().empty() ? 0 : 1;
}
