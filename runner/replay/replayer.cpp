#include "runner/replay/replayer.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "runner/plugin_access/device_members.h"
#include "runner/plugin_access/serial_settings.h"
#include "runner/replay/record_text.h"

namespace runner::replay {
namespace {

using plugin_access::DeviceMembers;
using recording::HostCall;

// A scenario may give fewer input bytes than a code needs (the interval of
// io-control 100 is 2); the buffer handed over is padded so that a device
// reading past the length it was given stays inside it. No bytes at all are
// handed over as no buffer.
constexpr std::size_t kMinIoControlInput = 8;

[[noreturn]] void Fail(const std::string& problem) { throw std::invalid_argument(problem); }

std::string FloatText(float v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

std::string ByteText(unsigned char b) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", b);
  return buf;
}

std::string Outcome(const std::function<std::string()>& call) {
  try {
    return call();
  } catch (const std::out_of_range& e) {
    return std::string("out_of_range ") + e.what();
  } catch (const std::exception& e) {
    return std::string("exception ") + e.what();
  } catch (...) {
    return "exception of unknown type";
  }
}

std::string MembersText(const DeviceMembers& m) {
  return std::string("members data_ready=") + (m.data_ready ? "1" : "0") +
         " data_changed=" + (m.data_changed ? "1" : "0") +
         " device_state=" + std::to_string(m.device_state);
}

std::string NameText(const std::string& name) { return name.empty() ? "unnamed" : name; }

}  // namespace

Replayer::Replayer(DeviceFactory make_device, std::ostream& out, bool hex)
    : make_device_(std::move(make_device)),
      out_(out.rdbuf()),
      hex_(hex),
      host_(std::make_shared<recording::RecordingController>()),
      transcript_(out_, *host_, hex),
      capture_([this](const std::string& line) { transcript_.StdoutLine(line); }) {}

Replayer::~Replayer() {
  recording::ScopedCoutCapture quiet(capture_);
  while (!devices_.empty()) devices_.pop_back();
}

void Replayer::Run(const std::vector<Action>& actions, const std::string& file_name) {
  for (const Action& a : actions) {
    try {
      Do(a);
    } catch (const std::invalid_argument& e) {
      throw ScenarioError(file_name, a.line, e.what());
    }
  }
  DestroyAll();
}

void Replayer::Do(const Action& a) {
  using V = Action::Verb;
  switch (a.verb) {
    case V::kCreate: return Create(a);
    case V::kUse: return Use(a);
    case V::kDestroy: return Destroy(a);
    case V::kConfigure: return Configure(a);
    case V::kTick: return Tick(a);
    case V::kReceive: return Receive(a);
    case V::kQuery: return Query(a);
    case V::kIoControl: return IoControl(a);
    case V::kCache: return Cache("cache " + std::to_string(a.bytes.size()) + " bytes", a.bytes);
    case V::kCacheFromLastRecord: return CacheFromLastRecord();
    case V::kPeerValue:
    case V::kPeerThrows: return Peer(a);
    case V::kClock: return Clock(a);
  }
}

void Replayer::Create(const Action& a) {
  if (!devices_.empty() && (a.device.empty() || Find("")))
    Fail("with several devices, give every device a name");
  if (Find(a.device)) Fail("a device named " + a.device + " exists already");
  if (const Device* other = FindId(a.id))
    Fail("data id " + std::to_string(a.id) + " is taken by device " + NameText(other->name));
  auto device = std::make_unique<Device>();
  device->name = a.device;
  device->id = a.id;
  Device& d = *device;
  const std::string what =
      "create id=" + std::to_string(a.id) + " address=" + std::to_string(a.number);
  Step(d, Prefix(d) + what, [&] {
    d.object = make_device_();
    Json::Value host_setting(Json::objectValue);
    host_setting["address"] = static_cast<Json::UInt>(a.number);
    const int r = d.object->Init(host_, a.id, host_setting);
    return std::to_string(r) + " type=" + d.object->DeviceType() +
           " addr=" + ByteText(plugin_access::BusAddress(*d.object)) +
           " baud=" + std::to_string(plugin_access::BaudRate(*d.object));
  });
  if (!d.object) Fail("the plug-in could not create a device");
  host_->SetPeerDevice(a.id, d.object.get());
  devices_.push_back(std::move(device));
  current_ = devices_.back().get();
}

void Replayer::Use(const Action& a) {
  Device* d = Find(a.device);
  if (!d) Fail("no device named " + a.device);
  current_ = d;
}

void Replayer::Destroy(const Action& a) {
  Device* d = a.device.empty() ? &Current() : Find(a.device);
  if (!d) Fail("no device named " + a.device);
  Step(*d, Prefix(*d) + "destroy", [&] {
    d->object.reset();
    return std::string();
  });
  host_->SetPeerDevice(d->id, nullptr);
  if (current_ == d) current_ = nullptr;
  devices_.erase(
      std::find_if(devices_.begin(), devices_.end(), [d](const auto& p) { return p.get() == d; }));
}

void Replayer::Configure(const Action& a) {
  Device& d = Current();
  Step(d, Prefix(d) + "configure", [&] {
    const int r = d.object->InitSetting(a.config);
    return std::to_string(r) + " addr=" + ByteText(plugin_access::BusAddress(*d.object));
  });
}

void Replayer::Tick(const Action& a) {
  Device& d = Current();
  for (long i = 0; i < a.number; ++i)
    Step(d, Prefix(d) + "tick", [&] { return std::to_string(d.object->RefreshStatus()); });
}

void Replayer::Receive(const Action& a) {
  Device& d = Current();
  for (const Bytes& chunk : a.chunks) {
    std::string what = "< process " + std::to_string(chunk.size()) + " bytes";
    if (hex_) what += ": " + recording::Hex(chunk);
    Step(d, Prefix(d) + what, [&] {
      Bytes buffer = chunk;  // process takes a writable buffer
      return std::to_string(d.object->process(buffer.data(), static_cast<unsigned>(buffer.size())));
    });
  }
}

void Replayer::Query(const Action& a) {
  Device& d = Current();
  Step(d, Prefix(d) + "query " + a.name, [&] { return FloatText(d.object->Get_Value(0, a.name)); });
}

void Replayer::IoControl(const Action& a) {
  Device& d = Current();
  std::string what = "ioctl " + std::to_string(a.number);
  if (!a.bytes.empty()) what += " [" + recording::Hex(a.bytes) + "]";
  Step(d, Prefix(d) + what, [&] {
    Bytes in = a.bytes;
    if (!in.empty()) in.resize(std::max(in.size(), kMinIoControlInput));
    int out_size = -1;  // shows whether the device wrote it
    const int r =
        d.object->DeviceIoControl(static_cast<int>(a.number), in.empty() ? nullptr : in.data(),
                                  static_cast<int>(a.bytes.size()), nullptr, 0, out_size);
    return std::to_string(r) + " out_size=" + std::to_string(out_size);
  });
}

void Replayer::Cache(const std::string& what, const Bytes& image) {
  Device& d = Current();
  Step(d, Prefix(d) + what, [&] {
    return d.object->LoadFromCache(image.data(), static_cast<int>(image.size())) ? "true" : "false";
  });
}

// The last record any device of this data id handed to history, as a host
// restores a device after a restart.
void Replayer::CacheFromLastRecord() {
  const std::uint32_t id = Current().id;
  const auto& calls = host_->calls;
  for (auto it = calls.rbegin(); it != calls.rend(); ++it)
    if (it->kind == HostCall::Kind::kSaveDeviceHistory && it->device_id == id)
      return Cache("cache last history record of id " + std::to_string(id) + ", " +
                       std::to_string(it->bytes.size()) + " bytes",
                   Bytes(it->bytes));
  Fail("no history record of data id " + std::to_string(id) + " yet");
}

void Replayer::Peer(const Action& a) {
  if (const Device* d = FindId(a.id))
    Fail("data id " + std::to_string(a.id) + " is device " + NameText(d->name) +
         " of this scenario; its values come from the device");
  if (a.verb == Action::Verb::kPeerThrows) {
    host_->SetPeerThrows(a.id, a.name);
    transcript_.Note("peer " + std::to_string(a.id) + " " + a.name + " throws");
  } else {
    host_->SetPeerValue(a.id, a.name, a.value);
    transcript_.Note("peer " + std::to_string(a.id) + " " + a.name + " = " + FloatText(a.value));
  }
}

void Replayer::Clock(const Action& a) {
  if (a.clock_at.is_not_a_date_time())
    host_->now += a.clock_step;
  else
    host_->now = a.clock_at;
  transcript_.Note("clock " + TimeText(host_->now));
}

void Replayer::DestroyAll() {
  while (!devices_.empty()) {
    Device& d = *devices_.back();
    transcript_.Begin();
    {
      recording::ScopedCoutCapture redirect(capture_);
      d.object.reset();
    }
    transcript_.End(Prefix(d) + "destroy at end", capture_.TakePending(), /*quiet=*/true);
    host_->SetPeerDevice(d.id, nullptr);
    devices_.pop_back();
  }
  current_ = nullptr;
}

void Replayer::Step(const Device& d, const std::string& what,
                    const std::function<std::string()>& call) {
  // A device not made yet (create) starts from the base's initial values.
  const DeviceMembers before = d.object ? plugin_access::MembersOf(*d.object) : DeviceMembers{};
  transcript_.Begin();
  std::string result;
  {
    recording::ScopedCoutCapture redirect(capture_);
    result = Outcome(call);
  }
  transcript_.End(result.empty() ? what : what + " -> " + result, capture_.TakePending());
  if (!d.object) return;  // destroyed, or never made
  const DeviceMembers after = plugin_access::MembersOf(*d.object);
  if (after != before) transcript_.Event(MembersText(after));
}

Replayer::Device& Replayer::Current() {
  if (!current_) Fail("no device to act on: create one first (or use one by name)");
  return *current_;
}

Replayer::Device* Replayer::Find(const std::string& name) {
  for (auto& d : devices_)
    if (d->name == name) return d.get();
  return nullptr;
}

Replayer::Device* Replayer::FindId(std::uint32_t id) {
  for (auto& d : devices_)
    if (d->id == id) return d.get();
  return nullptr;
}

std::string Replayer::Prefix(const Device& d) const {
  return d.name.empty() ? "" : "[" + d.name + "] ";
}

}  // namespace runner::replay
