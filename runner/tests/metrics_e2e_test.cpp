// qorv-host serving its metrics while it runs the demo with history and a
// real broker: every scrape equals the JSON line of the same round, and
// promtool takes the text as it is.
#include <httplib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>
#include <netinet/in.h>

#include "runner/publish/tests/test_broker.h"
#include "tests/support/test_folder.h"

namespace runner {
namespace {

using halvex::testing::TestFolder;
using Series = std::map<std::string, double>;  // "name{k="v",...}" with labels sorted

int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

std::string Key(const std::string& name, std::map<std::string, std::string> labels) {
  std::string key = name + "{";
  for (const auto& [k, v] : labels) key += (key.back() == '{' ? "" : ",") + k + "=\"" + v + "\"";
  return key + "}";
}

// The samples of a scrape; label values unescaped.
Series ParseScrape(const std::string& text) {
  Series out;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    if (line.empty() || line[0] == '#') continue;
    const std::size_t brace = line.find('{');
    const std::size_t space = line.rfind(' ');
    std::map<std::string, std::string> labels;
    for (std::size_t i = brace; brace != std::string::npos && line[i] != '}';) {
      const std::size_t eq = line.find('=', i + 1);
      std::string name = line.substr(i + 1, eq - i - 1), value;
      for (i = eq + 2; line[i] != '"'; ++i)
        value += line[i] == '\\' ? (line[++i] == 'n' ? '\n' : line[i]) : line[i];
      labels[name] = value;
      ++i;  // past the closing quote, onto ',' or '}'
    }
    const std::string name = line.substr(0, std::min(brace, space));
    out[Key(name, labels)] = std::stod(line.substr(space + 1));
  }
  return out;
}

// What the metrics of a round must be, from its JSON line.
Series Expected(const Json::Value& round) {
  Series out;
  out[Key("qorv_rounds_total", {})] = round["round"].asDouble();
  for (const Json::Value& d : round["devices"]) {
    const std::map<std::string, std::string> dev{{"device", d["name"].asString()},
                                                 {"data_id", d["data_id"].asString()},
                                                 {"port", d["port"].asString()}};
    auto put = [&](const char* name, const Json::Value& v, double scale = 1,
                   std::map<std::string, std::string> more = {}) {
      if (v.isNull()) return;
      more.insert(dev.begin(), dev.end());
      out[Key(name, more)] = (v.isBool() ? v.asBool() : v.asDouble()) / scale;
    };
    for (const char* s : {"ok", "stale", "no data", "offline", "error"})
      put("qorv_device_state", d["state"].asString() == s, 1, {{"state", s}});
    put("qorv_device_data_age_seconds", d["age_s"]);
    if (!d["from_record"].asBool()) {
      for (Json::ArrayIndex k = 0; k < d["cells"].size(); ++k)
        put("qorv_cell_voltage_volts", d["cells"][k], 1,
            {{"cell", std::to_string(d["first_cell"].asInt() + static_cast<int>(k))}});
      put("qorv_string_voltage_volts", d["group_voltage"]);
      put("qorv_current_amperes", d["group_current"]);
      put("qorv_temperature_celsius", d["temperature"]);
      const Json::Value& h = d["health"];
      if (!h.isNull()) {
        put("qorv_health_cells", h["cells"]);
        put("qorv_cell_voltage_mean_volts", h["mean"]);
        put("qorv_cell_voltage_stddev_volts", h["sigma_mv"], 1000);
        put("qorv_cell_voltage_spread_volts", h["spread_mv"], 1000);
        put("qorv_cell_worst_deviation_volts", h["worst"]["deviation_mv"], 1000,
            {{"cell", h["worst"]["cell"].asString()}});
      }
    }
    put("qorv_device_rounds_total", d["link"]["rounds"]);
    put("qorv_device_resends_total", d["link"]["resends"]);
    put("qorv_device_timeouts_total", d["link"]["timeouts"]);
    put("qorv_device_rejected_replies_total", d["link"]["rejected"]);
    put("qorv_device_round_duration_seconds", d["link"]["round_ms"], 1000);
    put("qorv_device_active_alarms", d["alarms"].size());
    for (const Json::Value& a : d["alarms"])
      put("qorv_alarm_active", 1, 1,
          {{"alarm", a["name"].asString()},
           {"point", a["point"].asString()},
           {"level", a["kind"].asString()}});
  }
  const Json::Value& st = round["store"];
  out[Key("qorv_history_pending_rows", {})] = st["pending"].asDouble();
  out[Key("qorv_history_records_stored_total", {})] = st["stored"].asDouble();
  out[Key("qorv_history_alarm_events_stored_total", {})] = st["alarms_stored"].asDouble();
  out[Key("qorv_history_lost_total", {})] = st["lost"].asDouble();
  out[Key("qorv_history_failing", {})] = st["failing"].asBool();
  const Json::Value& m = round["mqtt"];
  out[Key("qorv_mqtt_connected", {{"broker", m["broker"].asString()}})] = m["connected"].asBool();
  for (const char* c : {"published", "backlog_sent", "skipped", "lost"})
    out[Key(std::string("qorv_mqtt_") + c + "_total", {})] =
        m[c == std::string("backlog_sent") ? "backlog" : c].asDouble();
  out[Key("qorv_mqtt_waiting_messages", {})] = m["waiting"].asDouble();
  return out;
}

struct DemoRun {
  int status = -1;
  std::map<unsigned, Json::Value> lines;    // by round
  std::map<unsigned, std::string> scrapes;  // by the round each shows
};

// The demo for `rounds` rounds with --json and --metrics, scraped every
// 100 ms while it runs.
DemoRun RunDemo(const TestFolder& folder, const std::string& broker_url, unsigned rounds) {
  const int port = FreePort();
  int out[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe");
  const std::string command = std::string("exec ") + QORV_HOST_PATH + " demo --json --rounds " +
                              std::to_string(rounds) +
                              " --metrics 127.0.0.1:" + std::to_string(port) + " --mqtt " +
                              broker_url + " --db '" + (folder / "history.db") + "' --log '" +
                              (folder / "host.log") + "' 2>'" + (folder / "stderr") + "'";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(out[1]);
  DemoRun run;
  std::mutex mutex;
  std::thread reader([&, fd = out[0]] {
    std::string pending;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      pending.append(buffer, static_cast<std::size_t>(n));
      for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        Json::Value line;
        Json::Reader().parse(pending.substr(0, end), line);
        pending.erase(0, end + 1);
        const std::lock_guard<std::mutex> lock(mutex);
        run.lines[line["round"].asUInt()] = line;
      }
    }
    ::close(fd);
  });
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(std::chrono::milliseconds(300));
  int status = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) ::kill(pid, SIGKILL);
    if (auto res = client.Get("/metrics"); res && res->status == 200) {
      const Series s = ParseScrape(res->body);
      run.scrapes[static_cast<unsigned>(s.at(Key("qorv_rounds_total", {})))] = res->body;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  reader.join();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// promtool's lint of one scrape: silent and content.
void ExpectPromtoolTakes(const TestFolder& folder, const std::string& text) {
  std::ofstream(folder / "scrape.txt") << text;
  const std::string said = folder / "promtool.out";
  const std::string command =
      "promtool check metrics < '" + (folder / "scrape.txt") + "' > '" + said + "' 2>&1";
  const int status = std::system(command.c_str());
  std::stringstream out;
  out << std::ifstream(said).rdbuf();
  EXPECT_EQ(status, 0) << out.str() << text;
  EXPECT_EQ(out.str(), "") << text;
}

TEST(MetricsE2eTest, EachScrapeEqualsTheJsonLineOfItsRoundAndPromtoolTakesIt) {
  TestFolder folder;
  publish::testing::TestBroker broker(folder);
  broker.Start();
  const DemoRun run = RunDemo(folder, broker.Url(), 9);
  ASSERT_EQ(run.status, 0);
  const bool promtool = ::access("/usr/bin/promtool", X_OK) == 0;
  const std::string alarms_of_a =
      Key("qorv_device_active_alarms",
          {{"device", "string-A"}, {"data_id", "1"}, {"port", "demo-bus"}});
  int compared = 0, with_alarms = 0;
  for (const auto& [round, text] : run.scrapes) {
    SCOPED_TRACE("round " + std::to_string(round));
    if (promtool) ExpectPromtoolTakes(folder, text);
    if (round == 0 || !run.lines.count(round)) continue;
    const Series got = ParseScrape(text);
    const Series want = Expected(run.lines.at(round));
    for (const auto& [key, value] : want) {
      const auto it = got.find(key);
      if (it == got.end()) {
        ADD_FAILURE() << "no series " << key;
        continue;
      }
      EXPECT_NEAR(it->second, value, 1e-9 * std::max(1.0, std::fabs(value))) << key;
    }
    for (const auto& [key, value] : got)
      EXPECT_TRUE(want.count(key)) << "series " << key << " = " << value << " not in the JSON";
    ++compared;
    if (got.count(alarms_of_a) && got.at(alarms_of_a) > 0) ++with_alarms;
  }
  EXPECT_GE(compared, 6) << "scrapes by round: " << run.scrapes.size();
  EXPECT_GE(with_alarms, 1) << "the demo's cell drop was never seen";
  if (!promtool)
    GTEST_SKIP() << "/usr/bin/promtool absent (Debian package prometheus): values checked, the "
                    "text not linted";
}

}  // namespace
}  // namespace runner
