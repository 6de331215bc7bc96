#include "runner/replay/capture_directory.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "runner/replay/scenario_writer.h"

namespace runner::replay {
namespace {

namespace fs = std::filesystem;
using boost::posix_time::ptime;

[[noreturn]] void Fail(const std::string& what, const std::string& problem) {
  throw std::runtime_error(what + ": " + problem);
}

// One device's capture: the parts of its scenario, written step by step.
class DeviceCapture : public DeviceRecorder {
 public:
  DeviceCapture(fs::path first, std::uintmax_t part_max_bytes, const DeviceSettings& device)
      : first_(std::move(first)), part_max_bytes_(part_max_bytes), device_(device.name) {
    for (int n = 2; fs::exists(CaptureDirectory::PartPath(first_, n)); ++n)
      fs::remove(CaptureDirectory::PartPath(first_, n));
    OpenPart();
  }

  void Begin(ptime device_time) override {
    time_ = device_time;
    peers_.clear();
  }
  void PeerAnswer(unsigned data_id, const std::string& name, std::optional<float> value) override {
    peers_.push_back({data_id, name, value});
  }
  void Published(const Bytes& record) override { state_ = record; }

  void Create(std::uint32_t data_id, unsigned address) override {
    Setup(CreateLine(data_id, address));
  }
  void Configure(const Json::Value& config) override { Setup(ConfigureLine(config)); }
  void IoControl(int code, const Bytes& input) override { Setup(IoControlLine(code, input)); }
  void Cache(const Bytes& image) override {
    state_ = image;
    Step(CacheLine(image));
  }
  void Tick() override {
    if (PartFull()) NextPart();
    idle_ = false;
    Step(TickLine());
  }
  void Receive(const Bytes& chunk, int result) override {
    Step(ReceiveLine(chunk));
    idle_ = result == 0;
  }

 private:
  struct Peer {
    unsigned data_id;
    std::string name;
    std::optional<float> value;
  };

  // Creation, configuration and io-control begin every part.
  void Setup(const std::string& line) {
    setup_.push_back(line);
    Step(line);
  }

  // The step's clock when it moved, the peer answers it was given that the
  // replay does not hold yet, then the step itself.
  void Step(const std::string& action) {
    std::string text;
    if (!written_clock_ || *written_clock_ != time_) text += ClockLine(time_);
    written_clock_ = time_;
    for (const Peer& p : peers_) {
      const std::string line = PeerLine(p.data_id, p.name, p.value);
      std::string& held = held_peers_[{p.data_id, p.name}];
      if (held != line) text += line;
      held = line;
    }
    peers_.clear();
    Write(text + action);
  }

  // Cut only between exchanges, where the device's state is its last
  // record; a line that never ends one is cut anyway at twice the limit.
  bool PartFull() const {
    return part_max_bytes_ > 0 &&
           (part_bytes_ >= 2 * part_max_bytes_ || (idle_ && part_bytes_ >= part_max_bytes_));
  }

  void NextPart() {
    ++part_;
    OpenPart();
    std::string top = ClockLine(time_);
    for (const std::string& line : setup_) top += line;
    if (state_) top += CacheLine(*state_);
    written_clock_ = time_;
    held_peers_.clear();
    Write(top);
  }

  void OpenPart() {
    path_ = CaptureDirectory::PartPath(first_, part_);
    out_.close();
    out_.clear();
    out_.open(path_, std::ios::binary | std::ios::trunc);
    if (!out_) Fail(path_.string(), std::string("cannot write: ") + std::strerror(errno));
    part_bytes_ = 0;
    std::string head = "qorv-host capture of device " + device_ + ", part " + std::to_string(part_);
    if (part_ > 1)
      head += "; follows " + CaptureDirectory::PartPath(first_, part_ - 1).filename().string() +
              " and replays on its own from the device's last record";
    Write(CommentLine(head));
  }

  void Write(const std::string& text) {
    out_ << text;
    out_.flush();
    if (!out_) Fail(path_.string(), std::string("write failed: ") + std::strerror(errno));
    part_bytes_ += text.size();
  }

  const fs::path first_;
  const std::uintmax_t part_max_bytes_;
  const std::string device_;
  int part_ = 1;
  fs::path path_;
  std::ofstream out_;
  std::uintmax_t part_bytes_ = 0;
  ptime time_;
  std::optional<ptime> written_clock_;
  std::vector<Peer> peers_;  // answers given during the call under way
  std::map<std::pair<unsigned, std::string>, std::string> held_peers_;  // as this part set them
  std::vector<std::string> setup_;
  std::optional<Bytes> state_;  // the record the device holds: published or restored
  bool idle_ = true;            // no exchange under way
};

}  // namespace

CaptureDirectory::CaptureDirectory(const std::string& dir, std::uintmax_t part_max_bytes)
    : dir_(dir), part_max_bytes_(part_max_bytes) {
  const std::string what = "capture directory " + dir;
  std::error_code error;
  if (dir.empty()) Fail("capture directory", "no path given");
  if (!fs::exists(dir_, error) && !fs::create_directories(dir_, error) && error)
    Fail(what, "cannot make it: " + error.message());
  if (!fs::is_directory(dir_, error)) Fail(what, "not a directory");
  // Making a file is the one sure test: permissions, a read-only mount.
  std::string probe = (dir_ / ".qorv-capture-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) Fail(what, std::string("cannot write in it: ") + std::strerror(errno));
  ::close(fd);
  ::unlink(probe.c_str());
}

std::unique_ptr<DeviceRecorder> CaptureDirectory::Open(const DeviceSettings& device) {
  std::string stem = FileStem(device.name);
  if (!stems_.insert(stem).second) {
    stem += "-" + std::to_string(device.data_id);
    stems_.insert(stem);
  }
  try {
    return std::make_unique<DeviceCapture>(dir_ / (stem + ".scn"), part_max_bytes_, device);
  } catch (const fs::filesystem_error& e) {
    Fail("capture of device " + device.name, e.what());
  }
}

std::string CaptureDirectory::FileStem(const std::string& device_name) {
  std::string stem = device_name.empty() ? "device" : device_name;
  for (char& c : stem) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
    if (!safe) c = '_';
  }
  if (stem[0] == '.') stem[0] = '_';
  return stem;
}

fs::path CaptureDirectory::PartPath(const fs::path& first, int n) {
  if (n <= 1) return first;
  fs::path part = first;
  return part.replace_filename(first.stem().string() + "." + std::to_string(n) + ".scn");
}

}  // namespace runner::replay
