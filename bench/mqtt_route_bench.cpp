// qorv_mqtt_bench: what publishing every round to a broker costs a site.
//
// Starts one halvex-sim per line (each with its monitors, paced at the
// wire's 19200 bit/s, on a pseudo-terminal), and with --mqtt a mosquitto
// broker on a free loopback port and mosquitto_sub on the state topics;
// then runs the site in this process exactly as qorv-host runs it
// (RunSite: poll loop, history writer, publisher) for the given time.
// Reports the process's CPU time per second of polling (its share of one
// core), its peak memory, and with --mqtt the delay from the end of each
// round (taken on the poll thread) to the subscriber's receipt of that
// round's state message (mosquitto_sub's own clock, the same machine).
//
// The simulators, broker and subscriber are other processes, so the CPU
// figure is the host's alone. scripts/mqtt-bench.sh runs it without and
// with MQTT and prints both.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>
#include <json/reader.h>
#include <json/value.h>
#include <json/writer.h>
#include <netinet/in.h>

#include "runner/cli/run_command.h"
#include "runner/round/round_result.h"
#include "runner/site/site.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Options {
  unsigned lines = 16;
  unsigned monitors = 20;
  unsigned seconds = 300;
  unsigned warmup_seconds = 10;
  bool mqtt = false;
  std::string folder;  // empty: a new one under /tmp, removed afterwards
  bool keep = false;
};

// A child process, stopped with SIGTERM (then SIGKILL) when this goes.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::string& output) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int err = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(err));
  }
  ~Child() { Stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("no free loopback port");
  const int port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

template <typename Ready>
void WaitUntil(Ready ready, const std::string& what) {
  for (int i = 0; i < 250; ++i) {
    if (ready()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw std::runtime_error("timed out waiting for " + what);
}

std::string LineName(unsigned line) {
  char name[16];
  std::snprintf(name, sizeof name, "line-%02u", line + 1);
  return name;
}

std::string WireAddress(unsigned monitor) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", 0x81 + monitor);
  return text;
}

// The site: every line a port on its simulator's link, every monitor a
// device with the usual limits of a 12 V string.
Json::Value SiteJson(const Options& o, const fs::path& folder, int broker_port) {
  Json::Value site(Json::objectValue);
  site["poll_period_s"] = 1.0;
  site["reply_timeout_ms"] = 200;
  site["history_db"] = (folder / "history.db").string();
  site["save_interval_minutes"] = 10;
  for (unsigned line = 0; line < o.lines; ++line) {
    Json::Value port(Json::objectValue);
    port["name"] = LineName(line);
    port["path"] = (folder / LineName(line)).string();
    site["ports"].append(port);
    for (unsigned m = 0; m < o.monitors; ++m) {
      Json::Value device(Json::objectValue);
      device["name"] = "string-" + std::to_string(line + 1) + "-" + std::to_string(m + 1);
      device["data_id"] = line * o.monitors + m + 1;
      device["address"] = m + 1;
      device["port"] = LineName(line);
      device["config"]["appSetting"]["battery_type"] = 12;
      device["config"]["appSetting"]["current_ratio"] = 1;
      Json::Value cell_limit(Json::objectValue);
      cell_limit["name"] = "battery_*_value";
      cell_limit["low"] = 12.0;
      cell_limit["high"] = 14.4;
      cell_limit["hysteresis"] = 0.1;
      device["limits"].append(cell_limit);
      site["devices"].append(device);
    }
  }
  if (broker_port > 0) site["mqtt"]["url"] = "mqtt://127.0.0.1:" + std::to_string(broker_port);
  return site;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }
double CpuSeconds(const rusage& u) { return Seconds(u.ru_utime) + Seconds(u.ru_stime); }

double RealtimeNow() {
  timespec t{};
  ::clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// What the poll thread notes at the end of each round. The first
// `warmup_s` are left out of the figures: they hold the plug-in's start and,
// with MQTT, the burst of discovery messages sent on connecting.
struct RoundMarks {
  double warmup_s = 0;
  std::map<std::pair<int, std::uint64_t>, double> ended;  // (data id, link rounds) -> time
  double start = 0;                                       // the first round's end
  double first_wall = 0, last_wall = 0;                   // the measured window
  std::size_t rounds = 0;                                 // rounds ended in it
  rusage first_cpu{}, last_cpu{};

  void Note(const runner::RoundResult& round) {
    const double now = RealtimeNow();
    if (start == 0) start = now;
    ended[{round.data_id, round.link.rounds}] = now;
    if (now - start < warmup_s) return;
    rusage cpu{};
    ::getrusage(RUSAGE_SELF, &cpu);
    if (rounds++ == 0) {
      first_wall = now;
      first_cpu = cpu;
    }
    last_wall = now;
    last_cpu = cpu;
  }
  bool Measured(double ended_at) const { return ended_at >= first_wall && rounds > 0; }
};

std::string PeakMemoryKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return line.substr(line.find_first_not_of(" \t", 6));
  return "?";
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// mosquitto_sub's lines: "SECONDS.NANOSECONDS {state message}". Returns the
// number of state messages matched to a round's end, and fills `delays`.
struct Delays {
  std::vector<double> measured;  // rounds in the measured window
  double warmup_worst = 0;
  std::size_t warmup = 0, unmatched = 0, duplicates = 0, from_backlog = 0;
};

Delays ReadDelays(const fs::path& file, const RoundMarks& marks) {
  Delays out;
  std::set<std::pair<int, std::uint64_t>> seen;
  std::ifstream in(file);
  std::string line;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  while (std::getline(in, line)) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    Json::Value msg;
    std::string errors;
    const char* begin = line.data() + space + 1;
    if (!reader->parse(begin, line.data() + line.size(), &msg, &errors) || !msg.isObject()) {
      ++out.unmatched;
      continue;
    }
    const auto key = std::make_pair(msg["data_id"].asInt(), msg["link"]["rounds"].asUInt64());
    const auto it = marks.ended.find(key);
    if (it == marks.ended.end()) {
      ++out.unmatched;
      continue;
    }
    if (!seen.insert(key).second) {
      ++out.duplicates;
      continue;
    }
    if (msg["backlog"].asBool()) ++out.from_backlog;
    const double delay = std::stod(line.substr(0, space)) - it->second;
    if (marks.Measured(it->second)) {
      out.measured.push_back(delay);
    } else {
      ++out.warmup;
      out.warmup_worst = std::max(out.warmup_worst, delay);
    }
  }
  return out;
}

int Run(const Options& o) {
  const fs::path folder =
      o.folder.empty() ? fs::path(::mkdtemp(std::string("/tmp/qorv-mqtt-bench.XXXXXX").data()))
                       : fs::path(o.folder);
  fs::create_directories(folder);
  std::vector<std::unique_ptr<Child>> children;
  for (unsigned line = 0; line < o.lines; ++line) {
    std::vector<std::string> argv{HALVEX_SIM_PATH, "--pace",
                                  "--link",        (folder / LineName(line)).string(),
                                  "--seed",        std::to_string(line + 1)};
    for (unsigned m = 0; m < o.monitors; ++m) {
      argv.push_back("-m");
      argv.push_back("address=" + WireAddress(m));
    }
    children.push_back(
        std::make_unique<Child>(argv, (folder / (LineName(line) + ".sim.log")).string()));
  }
  for (unsigned line = 0; line < o.lines; ++line)
    WaitUntil([&] { return fs::exists(folder / LineName(line)); },
              "the simulator of " + LineName(line));

  int broker_port = 0;
  if (o.mqtt) {
    broker_port = FreeLoopbackPort();
    std::ofstream(folder / "mosquitto.conf")
        << "listener " << broker_port << " 127.0.0.1\nallow_anonymous true\npersistence false\n";
    children.push_back(std::make_unique<Child>(
        std::vector<std::string>{
            fs::exists("/usr/sbin/mosquitto") ? "/usr/sbin/mosquitto" : "mosquitto", "-c",
            (folder / "mosquitto.conf").string()},
        (folder / "mosquitto.log").string()));
    WaitUntil([&] { return Accepts(broker_port); },
              "the broker on port " + std::to_string(broker_port));
    // Line-buffered, so that every message is in the file when it is stopped.
    children.push_back(std::make_unique<Child>(
        std::vector<std::string>{"stdbuf", "-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p",
                                 std::to_string(broker_port), "-q", "1", "-t", "halvex/+/state",
                                 "-F", "%U %p"},
        (folder / "received.txt").string()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }

  const fs::path site_file = folder / "site.json";
  std::ofstream(site_file) << SiteJson(o, folder, broker_port);
  runner::Site site = runner::LoadSiteFile(site_file.string());

  RoundMarks marks;
  marks.warmup_s = o.warmup_seconds;
  runner::RunOptions run;
  run.rounds = o.warmup_seconds + o.seconds;  // one site round per poll period of 1 s
  run.log_path = (folder / "host.log").string();
  run.default_plugin = HALVEX_PLUGIN_PATH;
  run.on_round_result = [&marks](const runner::RoundResult& r) { marks.Note(r); };

  // The host's journal lines would go to standard output: keep it for the report.
  std::cout.flush();
  const int report_fd = ::dup(STDOUT_FILENO);
  const int null_fd = ::open("/dev/null", O_WRONLY);
  ::dup2(null_fd, STDOUT_FILENO);
  const int status = runner::RunSite(std::move(site), run);
  std::cout.flush();
  ::dup2(report_fd, STDOUT_FILENO);
  ::close(null_fd);
  ::close(report_fd);

  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the last messages arrive
  children.clear();

  const double wall = marks.last_wall - marks.first_wall;
  const double cpu = CpuSeconds(marks.last_cpu) - CpuSeconds(marks.first_cpu);
  const std::size_t devices = std::size_t{o.lines} * o.monitors;
  const double rate = wall > 0 ? static_cast<double>(marks.rounds - 1) / wall : 0.0;
  std::printf("MQTT %s, %zu devices on %u lines, %.1f s measured after %u s of warm-up\n",
              o.mqtt ? "on" : "off", devices, o.lines, wall, o.warmup_seconds);
  std::printf("  device rounds     %zu (%.1f a second: %.1f per line, %.2f per device)\n",
              marks.rounds, rate, rate / o.lines, rate / static_cast<double>(devices));
  std::printf("  CPU               %.2f s: %.2f %% of one core\n", cpu,
              wall > 0 ? 100.0 * cpu / wall : 0.0);
  std::printf("  peak memory       %s\n", PeakMemoryKiB().c_str());
  int result = status;
  if (o.mqtt) {
    Delays d = ReadDelays(folder / "received.txt", marks);
    const std::size_t missing =
        marks.ended.size() - std::min(marks.ended.size(), d.measured.size() + d.warmup);
    std::printf(
        "  state messages    %zu received for %zu rounds (%zu missing, %zu twice, %zu from "
        "the backlog, %zu unmatched)\n",
        d.measured.size() + d.warmup, marks.ended.size(), missing, d.duplicates, d.from_backlog,
        d.unmatched);
    std::printf(
        "  delay round end -> subscriber: median %.1f ms, 99th percentile %.1f ms, "
        "largest %.1f ms (%.1f ms in the warm-up)\n",
        1e3 * Percentile(d.measured, 0.5), 1e3 * Percentile(d.measured, 0.99),
        1e3 * Percentile(d.measured, 1.0), 1e3 * d.warmup_worst);
    if (missing != 0 || d.measured.empty()) result = result ? result : 1;
  }
  if (marks.rounds < 2) result = result ? result : 1;
  if (result == 0 && o.folder.empty() && !o.keep)
    fs::remove_all(folder);
  else
    std::printf("  files in %s\n", folder.c_str());
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "qorv_mqtt_bench: the cost of publishing every round to an MQTT broker, measured "
      "on simulated lines (halvex-sim, mosquitto and mosquitto_sub must be at hand)"};
  Options o;
  app.add_option("--lines", o.lines, "Simulated lines, one halvex-sim each")
      ->check(CLI::Range(1, 64));
  app.add_option("--monitors", o.monitors, "Monitors on each line")->check(CLI::Range(1, 32));
  app.add_option("--seconds", o.seconds, "How long to measure")->check(CLI::Range(2, 86400));
  app.add_option("--warmup-seconds", o.warmup_seconds, "Polled before measuring")
      ->check(CLI::Range(0, 3600));
  app.add_flag("--mqtt", o.mqtt, "Publish to a broker and measure the delay to a subscriber");
  app.add_option("--folder", o.folder, "Keep the run's files here (default: a temporary folder)");
  app.add_flag("--keep", o.keep, "Keep the temporary folder");
  CLI11_PARSE(app, argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  try {
    return Run(o);
  } catch (const std::exception& e) {
    std::cerr << "qorv_mqtt_bench: " << e.what() << "\n";
    return 1;
  }
}
