// The scan end to end: the real plug-in polls a simulated line, served on a
// pseudo-terminal at 19200 bit/s with byte pacing, through `RunScan` as the
// command runs it; the site file it writes is read back and run by the host.
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <json/reader.h>

#include "runner/lines/poller.h"
#include "runner/recording/output_capture.h"
#include "runner/scan/scan_command.h"
#include "runner/site/site.h"
#include "tests/support/test_folder.h"

namespace runner::scan {
namespace {

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = folder_.path(); }

  std::string WriteFile(const std::string& name, const std::string& text) const {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

  ScanOptions Options(const std::string& port) const {
    ScanOptions o;
    o.port = port;
    o.default_plugin = HALVEX_PLUGIN_PATH;
    return o;
  }

  // Runs the scan; the status, and what it wrote on each stream.
  int Scan(const ScanOptions& o) {
    std::ostringstream out, err;
    const int status = RunScan(o, out, err);
    out_ = out.str();
    err_ = err.str();
    return status;
  }

  halvex::testing::TestFolder folder_;  // first made, last removed
  std::string dir_, out_, err_;
};

// Monitors a device must find, and faulty ones it must not: one whose replies
// carry another address, one whose every reply is damaged, one that answers
// after the reply timeout (its late reply lands in the next addresses'
// exchanges).
constexpr const char* kLine = R"({"seed": 5, "pace": true, "monitors": [
  {"device_address": 0},
  {"device_address": 45, "faults": {"noise": 1, "split": 0.5, "split_gap_ms": 3}},
  {"device_address": 90, "faults": {"drop": 0.3}},
  {"device_address": 127, "cells": 24},
  {"device_address": 20, "faults": {"wrong_address": 1}},
  {"device_address": 60, "faults": {"corrupt": 1}},
  {"device_address": 70, "faults": {"delay": 1, "delay_ms": 40}}]})";

TEST_F(ScanTest, FindsEveryAnsweringMonitorAndNothingElseAndItsSiteRuns) {
  const std::string bus = WriteFile("bus.json", kLine);
  ScanOptions o = Options("sim:" + bus);
  o.tries = 2;
  o.timeout_ms = 20;
  o.json = true;
  o.site = dir_ + "/site.json";
  ASSERT_EQ(Scan(o), 0) << err_;

  Json::Value report;
  ASSERT_TRUE(Json::Reader().parse(out_, report)) << out_;
  EXPECT_EQ(report["addresses_polled"].asUInt(), 127u);  // 126 is the preamble
  std::map<unsigned, Json::Value> found;
  for (const Json::Value& m : report["monitors"]) found[m["address"].asUInt()] = m;
  ASSERT_EQ(found.size(), 4u) << out_;
  for (const auto& [address, wire, cells] :
       {std::tuple{0u, "0x80", 30}, std::tuple{45u, "0xAD", 30}, std::tuple{90u, "0xDA", 30},
        std::tuple{127u, "0xFF", 24}}) {
    SCOPED_TRACE("address " + std::to_string(address));
    ASSERT_EQ(found.count(address), 1u);
    const Json::Value& m = found[address];
    EXPECT_EQ(m["wire_byte"].asString(), wire);
    EXPECT_EQ(m["answers"].asUInt(), 1u) << "the first answer ends the tries";
    EXPECT_LE(m["polls"].asUInt(), 2u);
    // 67 bytes at 19200 bit/s take 35 ms on the line.
    EXPECT_GT(m["reply_ms"].asDouble(), 34.0);
    if (address == 90 && m["cells"].isNull()) continue;  // its round may have lost a reply
    EXPECT_EQ(m["cells"].asInt(), 30);
    EXPECT_EQ(m["cells_in_window"].asInt(), cells);
    EXPECT_NEAR(m["string_voltage"].asDouble(), cells * 13.3, cells * 0.05);
  }

  // Replies the devices refused are told per address; a late reply is
  // taken by the address byte it carries, not by the address polled.
  EXPECT_FALSE(report["refused"]["60"].empty()) << "a corrupted reply of address 60";
  EXPECT_EQ(report["refused"]["20"][0].asString(), "wrong address byte")
      << "replies carrying a byte no address sends";

  // The site file is taken as written, and the host polls every device in it.
  Site site = LoadSiteFile(o.site);
  ASSERT_EQ(site.devices.size(), 4u);
  for (std::size_t i = 0; i < site.devices.size(); ++i)
    EXPECT_EQ(site.devices[i].address, (std::vector<unsigned>{0, 45, 90, 127}[i]));
  site.poll_period_s = 0.3;
  PollerOptions options;
  options.default_plugin = HALVEX_PLUGIN_PATH;
  options.keep_history = false;
  Poller host(std::move(site), options);
  host.Start();
  const auto all_published = [&] {
    for (const auto& slot : host.devices())
      if (!slot->last_round) return false;
    return true;
  };
  {
    recording::QuietCout quiet;  // the devices' diagnostic lines
    host.Run(30, [&](const RoundReport&) {
      if (all_published()) host.RequestStop();
    });
  }
  EXPECT_TRUE(all_published());
}

// A monitor whose first reply is lost is found on its second try, and
// listed as one that answered only a later try; by default each address
// gets three tries.
TEST_F(ScanTest, AMonitorThatMissesATryIsFoundAndListed) {
  const std::string bus =
      WriteFile("bus.json", R"({"device_address": 90, "faults": {"drop": {"count": 1}}})");
  ScanOptions o = Options("sim:" + bus);
  o.from = 89;
  o.to = 91;
  o.timeout_ms = 15;
  ASSERT_EQ(o.tries, 3u);
  ASSERT_EQ(Scan(o), 0) << err_;
  std::istringstream table(out_);
  std::string line;
  int rows = 0;
  while (std::getline(table, line)) {
    unsigned address = 0, answers = 0, polls = 0;
    char wire[8];
    double reply_ms = 0;
    if (std::sscanf(line.c_str(), "%u %7s %lf %u/%u", &address, wire, &reply_ms, &answers,
                    &polls) != 5)
      continue;
    ++rows;
    EXPECT_EQ(address, 90u);
    EXPECT_EQ(answers, 1u) << line;
    EXPECT_EQ(polls, 2u) << line;
  }
  EXPECT_EQ(rows, 1) << out_;
  EXPECT_NE(out_.find("address 90: answered only try 2 of 3"), std::string::npos) << out_;
}

TEST_F(ScanTest, BadInputIsNamedAndFails) {
  const std::string no_monitor = WriteFile("quiet.json", R"({"device_address": 3})");
  const std::string bad_sim = WriteFile("bad.json", R"({"cels": 30})");
  struct Case {
    const char* name;
    std::function<void(ScanOptions&)> change;
    std::string message;
  };
  const Case cases[] = {
      {"unknown port", [](ScanOptions& o) { o.port = "/dev/ttyNOSUCH9"; }, "/dev/ttyNOSUCH9"},
      {"range upside down", [](ScanOptions& o) { o.from = 100, o.to = 20; }, "--from 100"},
      {"range beyond 127", [](ScanOptions& o) { o.to = 200; }, "0..127"},
      {"range of the preamble only", [](ScanOptions& o) { o.from = o.to = 126; }, "0xFE"},
      {"site in a missing folder", [](ScanOptions& o) { o.site = "/no/such/dir/site.json"; },
       "/no/such/dir/site.json"},
      {"site is a folder", [&](ScanOptions& o) { o.site = dir_; }, dir_ + ": is a folder"},
      {"sim file missing", [](ScanOptions& o) { o.port = "sim:/no/such/bus.json"; },
       "sim:/no/such/bus.json"},
      {"sim file with a wrong key", [&](ScanOptions& o) { o.port = "sim:" + bad_sim; }, "cels"},
      {"plug-in missing", [](ScanOptions& o) { o.plugin = "/no/such/plugin.so"; },
       "/no/such/plugin.so"},
      {"nothing found for the site",
       [&](ScanOptions& o) {
         o.port = "sim:" + no_monitor;
         o.from = 4;
         o.to = 5;
         o.timeout_ms = 10;
         o.site = dir_ + "/empty-site.json";
       },
       "no monitor found"},
      {"a site file that exists", [&](ScanOptions& o) { o.site = no_monitor; },
       "quiet.json: exists; give --force to replace it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScanOptions o = Options("sim:" + no_monitor);
    c.change(o);
    EXPECT_EQ(Scan(o), 1);
    EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
  }
  EXPECT_NE(std::ifstream(dir_ + "/empty-site.json").good(), true);
}

// With --force the operator's file is replaced, and kept beside it.
TEST_F(ScanTest, ForceReplacesASiteFileAndKeepsTheOldOne) {
  const std::string bus = WriteFile("bus.json", R"({"device_address": 5})");
  const std::string edited = WriteFile("site.json", "{\"edited\": true}\n");
  ScanOptions o = Options("sim:" + bus);
  o.from = 4;
  o.to = 6;
  o.site = edited;
  o.force = true;
  ASSERT_EQ(Scan(o), 0) << err_;
  std::ifstream old(edited + ".bak");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "{\"edited\": true}\n");
  EXPECT_EQ(LoadSiteFile(edited).devices.at(0).address, 5u);
}

}  // namespace
}  // namespace runner::scan
